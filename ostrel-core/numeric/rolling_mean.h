#pragma once
// Mean of the last `period` accepted values, with the running sum re-summed exactly every
// 16 x period updates to bound the drift of the incremental sum.

#include <cmath>
#include <cstddef>
#include <optional>

#include "../evaluator.h"
#include "ring.h"

namespace ostrel::numeric {

class RollingMean {
 public:
  [[nodiscard]] static Result<RollingMean, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return RollingMean(period);
  }

  std::optional<double> push(double x) {
    if (!std::isfinite(x)) return std::nullopt;
    if (buf_.full()) {
      double oldest = 0;
      buf_.push(x, &oldest);
      sum_ = x + (sum_ - oldest);
    } else {
      buf_.push(x);
      sum_ = x + sum_;
    }
    if (++updates_ == 16 * period_) {
      double s = -0.0;
      buf_.for_each([&](double v) { s += v; });
      sum_ = s;
      updates_ = 0;
    }
    if (!buf_.full()) return std::nullopt;
    return sum_ / static_cast<double>(period_);
  }

  std::size_t period() const { return period_; }
  bool ready() const { return buf_.full(); }

 private:
  explicit RollingMean(std::size_t period) : buf_(period), period_(period) {}
  Ring<double> buf_;
  std::size_t period_;
  double sum_ = 0.0;
  std::size_t updates_ = 0;
};

}  // namespace ostrel::numeric
