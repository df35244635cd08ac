#pragma once
// Sorting of small scratch copies of a window (deviations recomputed every step), for the
// interpolated quantile.

#include <algorithm>
#include <cmath>
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

}  // namespace ostrel::numeric
