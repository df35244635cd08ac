#pragma once
// Ordering of scratch copies of a window (deviations recomputed every step) for the interpolated
// quantile: a full ascending sort, or just the selection of the order statistics one quantile
// reads, which gives the same quantile in linear time.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace ostrel::numeric {

// Ascending order with NaN last. A plain `<` is not a strict weak ordering once a NaN is present,
// and the standard algorithms may then read out of bounds; for NaN-free data the order is the
// usual one.
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

// Moves the two order statistics around position q * (m - 1) (the only ones the interpolated
// quantile at q reads) to their sorted places; the other elements end up in no useful order.
// interpolated_quantile(v, q) afterwards equals its value on the fully sorted copy.
inline void select_for_quantile(std::span<double> v, double q) {
  const std::size_t m = v.size();
  if (m < 2) return;
  const double pos = q * static_cast<double>(m - 1);
  std::size_t j = m - 1;
  if (pos < static_cast<double>(m - 1)) j = pos > 0 ? static_cast<std::size_t>(std::floor(pos)) : 0;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(j), v.end(),
                   ascending_nan_last);
  if (j + 1 < m) {
    // Everything after j is not below v[j]; the smallest of it is the next order statistic.
    auto next = std::min_element(v.begin() + static_cast<std::ptrdiff_t>(j + 1), v.end(),
                                 ascending_nan_last);
    std::iter_swap(v.begin() + static_cast<std::ptrdiff_t>(j + 1), next);
  }
}

}  // namespace ostrel::numeric
