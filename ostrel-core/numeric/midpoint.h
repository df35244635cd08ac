#pragma once
// Midpoint of two finite numbers that never overflows: (a + b) / 2 can reach infinity when both
// magnitudes are near the top of the double range, so those halve before adding.

namespace ostrel::numeric {

// Largest magnitude for which a + b cannot overflow (half of the largest finite double).
inline constexpr double kMidpointDirectLimit = 8.988465674311579e307;

inline double midpoint(double a, double b) {
  const double aa = a < 0 ? -a : a;
  const double ab = b < 0 ? -b : b;
  if (aa <= kMidpointDirectLimit && ab <= kMidpointDirectLimit) return (a + b) * 0.5;
  return a * 0.5 + b * 0.5;
}

// The same midpoint under the name some callers use.
inline double overflow_safe_midpoint(double a, double b) { return midpoint(a, b); }

}  // namespace ostrel::numeric
