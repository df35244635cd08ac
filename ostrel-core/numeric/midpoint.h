#pragma once
// Midpoint of two numbers that cannot overflow: halves first when either magnitude is beyond
// half the largest finite double.

#include <cmath>

namespace ostrel::numeric {

inline double overflow_safe_midpoint(double a, double b) {
  constexpr double kHalfMax = 8.988465674311579e307;
  if (std::fabs(a) <= kHalfMax && std::fabs(b) <= kHalfMax) return (a + b) * 0.5;
  return a * 0.5 + b * 0.5;
}

}  // namespace ostrel::numeric
