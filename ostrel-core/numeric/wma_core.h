#pragma once
// Linearly weighted average of the last `period` values (weights 1..n, newest heaviest).
// The weighted sum is built once from the first full window and then only updated, never
// re-summed, so results depend on the exact update order below.

#include <cmath>
#include <cstddef>
#include <optional>

#include "../evaluator.h"
#include "ring.h"

namespace ostrel::numeric {

class WmaCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit WmaCore(std::size_t period)
      : buf_(period),
        period_(period),
        n_(static_cast<double>(period)),
        denominator_((n_ + 1.0) * n_ * 0.5) {}

  [[nodiscard]] static Result<WmaCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return WmaCore(period);
  }

  std::optional<double> push(double x) {
    if (!std::isfinite(x)) return std::nullopt;
    if (!buf_.full()) {
      buf_.push(x);
      total_ = x + total_;
      if (!buf_.full()) return std::nullopt;
      double w = -0.0;
      double pos = 1.0;
      buf_.for_each([&](double v) {
        w = w + pos * v;
        pos += 1.0;
      });
      weighted_ = w;
      return weighted_ / denominator_;
    }
    double oldest = 0.0;
    buf_.push(x, &oldest);
    weighted_ = n_ * x + (weighted_ - total_);
    total_ = x + (total_ - oldest);
    return weighted_ / denominator_;
  }

  std::size_t period() const { return period_; }
  bool ready() const { return buf_.full(); }

 private:
  Ring<double> buf_;
  std::size_t period_;
  double n_;
  double denominator_;
  double total_ = -0.0;
  double weighted_ = -0.0;
};

}  // namespace ostrel::numeric
