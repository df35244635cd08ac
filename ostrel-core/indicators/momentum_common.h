#pragma once
// Small helpers shared by the momentum oscillator files.

#include <cstddef>
#include <initializer_list>

#include "../evaluator.h"

namespace ostrel::momentum {

// A zero length in any position is reported before any other problem.
[[nodiscard]] inline Status<IndicatorError> check_nonzero(std::initializer_list<std::size_t> ns) {
  for (std::size_t n : ns)
    if (n == 0) return IndicatorError::zero_period();
  return Ok{};
}

// Every length of the family is held to the engine's window limit, including smoothing lengths
// that keep no window (their warm-up counts still grow with them) and the windows whose limit is
// otherwise unstated; checked after the zero checks and the member's own checks.
[[nodiscard]] inline Status<IndicatorError> check_max(std::initializer_list<std::size_t> ns) {
  for (std::size_t n : ns)
    if (n > MAX_PERIOD) return IndicatorError::period_too_large();
  return Ok{};
}

// Clamp that lets NaN through instead of pinning it to a bound.
inline double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace ostrel::momentum
