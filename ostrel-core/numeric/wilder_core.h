#pragma once
// Wilder's smoothed moving average: seeded by the plain mean of the first `period` values, then
// value = (x + (n - 1) * value) / n. Rounds differently from the fma form, hence its own type.
//
// Unlike EmaCore and WmaCore, the recurrence has no finiteness guard of its own: callers feed it
// values they already accepted, and a guard here would silently change their results.

#include <cstddef>
#include <optional>

#include "../evaluator.h"

namespace ostrel::numeric {

class WilderCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit WilderCore(std::size_t period)
      : period_(period), n_(static_cast<double>(period)), n_minus_one_(n_ - 1.0) {}

  [[nodiscard]] static Result<WilderCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return WilderCore(period);
  }

  std::optional<double> push(double x) {
    if (ready_) {
      value_ = (x + n_minus_one_ * value_) / n_;
      return value_;
    }
    // The seed values are only ever summed in arrival order, so the running sum replaces them.
    sum_ = x + sum_;
    if (++seeded_ < period_) return std::nullopt;
    value_ = sum_ / n_;
    ready_ = true;
    return value_;
  }

  std::size_t period() const { return period_; }
  bool ready() const { return ready_; }
  double value() const { return value_; }

 private:
  std::size_t period_;
  double n_;
  double n_minus_one_;
  double sum_ = -0.0;
  std::size_t seeded_ = 0;
  bool ready_ = false;
  double value_ = 0.0;
};

}  // namespace ostrel::numeric
