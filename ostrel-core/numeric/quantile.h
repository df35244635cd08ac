#pragma once
// Order statistics of a window: the linearly interpolated quantile of sorted values, the median
// with the overflow-safe midpoint, and a window kept sorted as values arrive and leave.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "midpoint.h"
#include "ring.h"
#include "sort_ascending.h"

namespace ostrel::numeric {

// Quantile at level q in [0, 1] of ascending values (at least one): position q * (n - 1),
// interpolated linearly between its two neighbours.
inline double interpolated_quantile(std::span<const double> sorted, double q) {
  const std::size_t n = sorted.size();
  if (n == 1) return sorted[0];
  const double pos = q * static_cast<double>(n - 1);
  // Levels outside [0, 1] (or NaN) clamp to the ends rather than index out of range.
  if (!(pos >= 0)) return sorted[0];
  if (pos >= static_cast<double>(n - 1)) return sorted[n - 1];
  const auto i = static_cast<std::size_t>(std::floor(pos));
  if (i >= n - 1) return sorted[n - 1];
  const double lo = sorted[i], hi = sorted[i + 1];
  const double frac = pos - static_cast<double>(i);
  const double gap = hi - lo;
  if (std::isfinite(gap)) return lo + gap * frac;
  // Neighbours of opposite sign near the top of the range: their gap overflows, and the
  // interpolation must not turn two finite values into infinity (or NaN when frac is 0).
  if (frac == 0) return lo;
  return lo * (1 - frac) + hi * frac;
}

// The same quantile under the name some callers use.
inline double quantile_of_sorted(std::span<const double> sorted, double q) {
  return interpolated_quantile(sorted, q);
}

// Median of ascending values (at least one); even counts take the midpoint of the middle two.
inline double sorted_median(std::span<const double> sorted) {
  const std::size_t n = sorted.size();
  if (n % 2 == 1) return sorted[n / 2];
  return midpoint(sorted[n / 2 - 1], sorted[n / 2]);
}

// The newest `capacity` values both in arrival order and in ascending order. A push costs a
// binary search and one shift of the sorted copy instead of a full sort per value. Storage grows
// with the data up to the capacity. Values must not be NaN (they have no place in the order).
class SortedWindow {
 public:
  explicit SortedWindow(std::size_t capacity) : ring_(capacity) {}

  void push(double x) {
    if (ring_.full()) {
      const double old = ring_.oldest();
      // Equal values may differ in sign of zero; remove the very value that leaves so the sorted
      // copy keeps exactly the bits of the window.
      auto [lo, hi] = std::equal_range(sorted_.begin(), sorted_.end(), old);
      auto it = lo;
      while (it != hi && std::memcmp(&*it, &old, sizeof old) != 0) ++it;
      sorted_.erase(it == hi ? lo : it);
    }
    ring_.push(x);
    sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), x), x);
  }

  bool full() const { return ring_.full(); }
  std::size_t size() const { return ring_.size(); }
  std::size_t capacity() const { return ring_.capacity(); }
  const Ring<double>& window() const { return ring_; }
  std::span<const double> sorted() const { return sorted_; }

 private:
  Ring<double> ring_;
  std::vector<double> sorted_;
};

}  // namespace ostrel::numeric
