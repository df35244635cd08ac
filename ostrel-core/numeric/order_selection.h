#pragma once
// Selection of the order statistics one interpolated quantile reads, which gives the same
// quantile as a full sort in linear time. Used on scratch copies of a window (deviations
// recomputed every step) where only one or two quantiles are wanted.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>

#include "quantile.h"
#include "sort_ascending.h"

namespace ostrel::numeric {

// Moves the two order statistics around position q * (m - 1) to their sorted places; the other
// elements end up in no useful order. interpolated_quantile(v, q) (and, for q = 0.5,
// sorted_median(v)) afterwards equals its value on the fully sorted copy.
inline void select_for_quantile(std::span<double> v, double q) {
  const std::size_t m = v.size();
  if (m < 2) return;
  const double pos = q * static_cast<double>(m - 1);
  // The positions the quantile reads: levels below 0 (or NaN) read the first element, levels at
  // or above the top the last.
  std::size_t j = 0;
  if (pos >= static_cast<double>(m - 1)) {
    j = m - 1;
  } else if (pos > 0) {
    j = static_cast<std::size_t>(std::floor(pos));
  }
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(j), v.end(),
                   ascending_nan_last);
  if (j + 1 < m) {
    // Everything after j is not below v[j]; the smallest of it is the next order statistic.
    auto next = std::min_element(v.begin() + static_cast<std::ptrdiff_t>(j + 1), v.end(),
                                 ascending_nan_last);
    std::iter_swap(v.begin() + static_cast<std::ptrdiff_t>(j + 1), next);
  }
}

// Interpolated quantiles of a scratch copy at the given levels; the copy is reordered. Short
// copies are insertion-sorted once (cheapest for a handful of values); long ones select the two
// order statistics each level reads, which is linear instead of n log n. Same values either way.
template <std::size_t K>
std::array<double, K> quantiles_of(std::span<double> scratch, const std::array<double, K>& qs) {
  std::array<double, K> out{};
  if (scratch.size() <= 20) {
    sort_ascending(scratch);
    for (std::size_t k = 0; k < K; ++k) out[k] = interpolated_quantile(scratch, qs[k]);
  } else {
    for (std::size_t k = 0; k < K; ++k) {
      select_for_quantile(scratch, qs[k]);
      out[k] = interpolated_quantile(scratch, qs[k]);
    }
  }
  return out;
}

}  // namespace ostrel::numeric
