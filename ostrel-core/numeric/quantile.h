#pragma once
// Interpolated quantile of a window: sort a copy ascending, then interpolate linearly between
// the two order statistics around position q * (m - 1).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace ostrel::numeric {

// Ascending order with NaN last. A plain `<` is not a strict weak ordering once a NaN is present,
// and std::sort may then read out of bounds; for NaN-free data the order is the usual one.
inline bool ascending_nan_last(double a, double b) {
  return !std::isnan(a) && (std::isnan(b) || a < b);
}

// Insertion sort for short windows (it wins below ~20 elements), a general sort otherwise.
inline void sort_ascending(std::span<double> v) {
  if (v.size() <= 20) {
    for (std::size_t i = 1; i < v.size(); ++i) {
      const double x = v[i];
      std::size_t j = i;
      for (; j > 0 && ascending_nan_last(x, v[j - 1]); --j) v[j] = v[j - 1];
      v[j] = x;
    }
  } else {
    std::sort(v.begin(), v.end(), ascending_nan_last);
  }
}

// Quantile at fraction q (expected in [0, 1]) of an ascending, non-empty sequence.
inline double quantile_of_sorted(std::span<const double> s, double q) {
  const std::size_t m = s.size();
  const double h = q * static_cast<double>(m - 1);
  if (!(h >= 0.0)) return s[0];  // q below 0 or NaN: clamp rather than index out of range
  if (h >= static_cast<double>(m - 1)) return s[m - 1];
  const auto j = static_cast<std::size_t>(std::floor(h));
  return s[j] + (s[j + 1] - s[j]) * (h - static_cast<double>(j));
}

}  // namespace ostrel::numeric
