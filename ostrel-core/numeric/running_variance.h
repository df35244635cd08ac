#pragma once
// Window variance from sums of deviations against a shift k, so that a series far from zero
// (prices around 1e6) does not lose its variance to cancellation in S2 - S1^2/n. k starts as the
// first value ever pushed; every n pushes it moves to the exact window mean and S1, S2 are
// recomputed from the window, which both re-centres the sums and bounds their drift.

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

class ShiftedRunningVariance {
 public:
  explicit ShiftedRunningVariance(std::size_t n) : win_(n) {}

  void push(double x) {
    if (!has_shift_) {
      k_ = x;
      has_shift_ = true;
    }
    const double d = x - k_;
    if (win_.full()) {
      double old = 0;
      win_.push(x, &old);
      const double od = old - k_;
      s1_ = d + (s1_ - od);
      s2_ = d * d + (s2_ - od * od);
    } else {
      win_.push(x);
      s1_ = d + s1_;
      s2_ = d * d + s2_;
    }
    if (++pushes_ == win_.capacity()) {
      recentre();
      pushes_ = 0;
    }
  }

  bool full() const { return win_.full(); }
  std::size_t size() const { return win_.size(); }
  const Ring<double>& window() const { return win_; }
  double shift() const { return k_; }
  double s1() const { return s1_; }
  double s2() const { return s2_; }

  // Window mean: the shift plus the mean deviation.
  double mean() const { return k_ + s1_ / count(); }
  // (S2 - S1^2/n)/(n - 1) with the numerator as one fused multiply-add, clamped at 0 so that
  // rounding never hands a negative variance to a square root. Needs at least two values.
  double sample_variance() const {
    const double n = count();
    const double num = std::fma(-s1_, s1_ / n, s2_);
    return std::max(0.0, num / (n - 1.0));
  }
  // S2/n - (S1/n)^2, clamped at 0.
  double population_variance() const {
    const double n = count();
    const double m = s1_ / n;
    return std::max(0.0, s2_ / n - m * m);
  }

 private:
  double count() const { return static_cast<double>(win_.size()); }

  void recentre() {
    double s = -0.0;
    win_.for_each([&](double v) { s += v; });
    k_ = s / count();
    double a = -0.0, b = -0.0;
    win_.for_each([&](double v) {
      const double d = v - k_;
      a += d;
      b += d * d;
    });
    s1_ = a;
    s2_ = b;
  }

  Ring<double> win_;
  bool has_shift_ = false;
  double k_ = 0.0;
  double s1_ = -0.0;
  double s2_ = -0.0;
  std::size_t pushes_ = 0;
};

}  // namespace ostrel::numeric
