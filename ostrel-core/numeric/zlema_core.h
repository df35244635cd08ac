#pragma once
// Zero-lag exponential average: the close is pushed ahead by its change over the lag
// L = floor((n - 1) / 2), 2 * close - close[L back], before exponential smoothing.

#include <cmath>
#include <cstddef>
#include <optional>

#include "../evaluator.h"
#include "ema_core.h"
#include "ring.h"

namespace ostrel::numeric {

class ZlemaCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit ZlemaCore(std::size_t period) : closes_((period - 1) / 2 + 1), ema_(period) {}

  [[nodiscard]] static Result<ZlemaCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return ZlemaCore(period);
  }

  std::optional<double> push(double x) {
    closes_.push(x);
    if (!closes_.full()) return std::nullopt;
    const double delagged = std::fma(2.0, x, -closes_.oldest());
    if (!std::isfinite(delagged)) return std::nullopt;
    return ema_.push(delagged);
  }

  std::size_t period() const { return ema_.period(); }
  std::size_t lag() const { return closes_.capacity() - 1; }
  // Accepted inputs up to and including the first value (L + n).
  std::size_t warmup_period() const { return lag() + period(); }

 private:
  Ring<double> closes_;  // the last L + 1 inputs
  EmaCore ema_;
};

}  // namespace ostrel::numeric
