#pragma once
// Exponential smoothing seeded by the simple average of the first `period` values.

#include <cmath>
#include <cstddef>
#include <optional>

#include "../evaluator.h"

namespace ostrel::numeric {

class EmaCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit EmaCore(std::size_t period)
      : period_(period),
        alpha_(2.0 / (static_cast<double>(period) + 1.0)),
        one_minus_alpha_(1.0 - alpha_) {}

  [[nodiscard]] static Result<EmaCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return EmaCore(period);
  }

  std::optional<double> push(double x) {
    if (!std::isfinite(x)) return std::nullopt;
    if (ready_) {
      // The decayed term is rounded on its own before the fused step.
      value_ = std::fma(alpha_, x, one_minus_alpha_ * value_);
      return value_;
    }
    // Adding each seed value in arrival order to a sum started at -0.0 gives exactly the sum of
    // the stored seed list, so the seed needs no storage.
    seed_sum_ += x;
    if (++seeded_ < period_) return std::nullopt;
    value_ = seed_sum_ / static_cast<double>(period_);
    ready_ = true;
    return value_;
  }

  std::size_t period() const { return period_; }
  bool ready() const { return ready_; }
  double value() const { return value_; }
  double alpha() const { return alpha_; }

 private:
  std::size_t period_;
  double alpha_;
  double one_minus_alpha_;
  double seed_sum_ = -0.0;
  std::size_t seeded_ = 0;
  bool ready_ = false;
  double value_ = 0.0;
};

}  // namespace ostrel::numeric
