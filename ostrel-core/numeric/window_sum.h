#pragma once
// Sum of the last n values, maintained incrementally. On a full window the evicted value is
// subtracted before the new one is added (sum = x + (sum - old)). With a re-summation cadence,
// the sum is recomputed exactly from the window (from -0.0, oldest to newest) every `cadence`
// pushes, full window or not, which bounds floating-point drift; a cadence of 0 never re-sums.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

class WindowSum {
 public:
  // Re-sums exactly every n pushes: the usual cadence for volatility windows.
  static WindowSum resummed(std::size_t n) { return WindowSum(n, n); }
  // Never re-sums: a plain running sum with the oldest value subtracted.
  static WindowSum plain(std::size_t n) { return WindowSum(n, 0); }

  void push(double x) {
    if (win_.full()) {
      double old = 0;
      win_.push(x, &old);
      sum_ = x + (sum_ - old);
    } else {
      win_.push(x);
      sum_ = x + sum_;
    }
    if (cadence_ != 0 && ++pushes_ == cadence_) {
      double s = -0.0;
      win_.for_each([&](double v) { s += v; });
      sum_ = s;
      pushes_ = 0;
    }
  }

  double sum() const { return sum_; }
  bool full() const { return win_.full(); }
  std::size_t size() const { return win_.size(); }
  std::size_t capacity() const { return win_.capacity(); }
  const Ring<double>& window() const { return win_; }

 private:
  WindowSum(std::size_t n, std::size_t cadence) : win_(n), cadence_(cadence) {}
  Ring<double> win_;
  std::size_t cadence_;
  std::size_t pushes_ = 0;
  double sum_ = -0.0;
};

}  // namespace ostrel::numeric
