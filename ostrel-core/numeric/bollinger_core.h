#pragma once
// Mean and population standard deviation (divisor n) of the last n closes, from shifted running
// sums, with bands k standard deviations either side of the mean.

#include <cmath>
#include <cstddef>
#include <optional>

#include "running_variance.h"

namespace ostrel::numeric {

struct BollingerValues {
  double upper = 0, middle = 0, lower = 0, stddev = 0;
};

class BollingerCore {
 public:
  BollingerCore(std::size_t n, double k) : var_(n), n_(n), k_(k) {}

  std::optional<BollingerValues> push(double x) {
    var_.push(x);
    if (!var_.full()) return std::nullopt;
    const double mean = var_.mean();
    // Population variance S2/n - (S1/n)^2, clamped only below zero: the clamp is for rounding,
    // and once the squared deviations overflow the difference is NaN, which must stay missing
    // rather than read as a flat window with every band on the mean.
    const double n = static_cast<double>(n_);
    const double m = var_.s1() / n;
    const double v = var_.s2() / n - m * m;
    const double sd = std::sqrt(v < 0.0 ? 0.0 : v);
    return BollingerValues{mean + k_ * sd, mean, mean - k_ * sd, sd};
  }

  std::size_t period() const { return n_; }

 private:
  ShiftedRunningVariance var_;
  std::size_t n_;
  double k_;
};

}  // namespace ostrel::numeric
