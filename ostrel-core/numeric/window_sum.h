#pragma once
// Plain running sum of the last n values: the evicted value is subtracted before the new one is
// added (sum = x + (sum - old)), with no periodic exact re-summation. Windows that must bound
// drift use RollingSum instead, which rounds the same way but re-sums every n pushes.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

class RunningWindowSum {
 public:
  explicit RunningWindowSum(std::size_t n) : win_(n) {}

  void push(double x) {
    if (win_.full()) {
      double old = 0;
      win_.push(x, &old);
      sum_ = x + (sum_ - old);
    } else {
      win_.push(x);
      sum_ = x + sum_;
    }
  }

  double sum() const { return sum_; }
  bool full() const { return win_.full(); }
  std::size_t size() const { return win_.size(); }
  std::size_t capacity() const { return win_.capacity(); }

 private:
  Ring<double> win_;
  double sum_ = -0.0;
};

}  // namespace ostrel::numeric
