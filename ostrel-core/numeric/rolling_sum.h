#pragma once
// The newest `period` values in arrival order with their running sum. The sum is updated by
// subtracting what leaves and adding what arrives, and replaced by an exact sum over the window
// after every `period` pushes, which bounds the drift of the incremental updates.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

class RollingSum {
 public:
  explicit RollingSum(std::size_t period) : win_(period) {}

  void push(double x) {
    if (win_.full()) sum_ -= win_.oldest();
    win_.push(x);
    sum_ += x;
    if (++count_ == win_.capacity()) {
      double s = -0.0;
      win_.for_each([&](double v) { s += v; });
      sum_ = s;
      count_ = 0;
    }
  }

  bool full() const { return win_.full(); }
  std::size_t size() const { return win_.size(); }
  std::size_t period() const { return win_.capacity(); }
  double sum() const { return sum_; }
  const Ring<double>& window() const { return win_; }

 private:
  Ring<double> win_;
  double sum_ = 0.0;
  std::size_t count_ = 0;
};

}  // namespace ostrel::numeric
