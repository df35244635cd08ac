#pragma once
// Exponential average whose first value is the plain mean of its first n inputs; afterwards
// ema = fma(alpha, x, (1 - alpha) * ema) with alpha = 2/(n + 1), the product rounded first.
// The seed needs no list: its sum is accumulated from -0.0 in arrival order.
//
// A push whose input or resulting state is not finite is refused and changes nothing, so one
// overflowing step cannot poison every later value.

#include <cmath>
#include <cstddef>

namespace ostrel::numeric {

class SmaSeededEma {
 public:
  explicit SmaSeededEma(std::size_t n)
      : n_(n), alpha_(2.0 / (static_cast<double>(n) + 1.0)), one_minus_alpha_(1.0 - alpha_) {}

  // Returns false (state unchanged) when x or the new state would not be finite.
  bool push(double x) {
    if (!std::isfinite(x)) return false;
    if (ready_) {
      const double v = std::fma(alpha_, x, one_minus_alpha_ * value_);
      if (!std::isfinite(v)) return false;
      value_ = v;
      return true;
    }
    const double s = x + sum_;
    if (!std::isfinite(s)) return false;
    sum_ = s;
    if (++seen_ == n_) {
      value_ = sum_ / static_cast<double>(n_);
      ready_ = true;
    }
    return true;
  }

  bool ready() const { return ready_; }
  double value() const { return value_; }
  std::size_t period() const { return n_; }

 private:
  std::size_t n_;
  double alpha_, one_minus_alpha_;
  double sum_ = -0.0;
  std::size_t seen_ = 0;
  bool ready_ = false;
  double value_ = 0.0;
};

}  // namespace ostrel::numeric
