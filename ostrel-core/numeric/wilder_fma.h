#pragma once
// Wilder's smoothed average in its fused form: seeded by the mean of the first n inputs, then
// avg = fma(avg, n - 1, x) * (1/n) with 1/n precomputed. It rounds differently from the
// divide-by-n form of the moving-average family, hence a type of its own.
//
// A push whose input or resulting state is not finite is refused and changes nothing.

#include <cmath>
#include <cstddef>

namespace ostrel::numeric {

class WilderFma {
 public:
  explicit WilderFma(std::size_t n)
      : n_(n), n_minus_1_(static_cast<double>(n) - 1.0), inv_n_(1.0 / static_cast<double>(n)) {}

  // Returns false (state unchanged) when x or the new state would not be finite.
  bool push(double x) {
    if (!std::isfinite(x)) return false;
    if (ready_) {
      const double v = std::fma(value_, n_minus_1_, x) * inv_n_;
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
  double n_minus_1_, inv_n_;
  double sum_ = -0.0;
  std::size_t seen_ = 0;
  bool ready_ = false;
  double value_ = 0.0;
};

}  // namespace ostrel::numeric
