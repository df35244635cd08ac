#pragma once
// Recognising a window whose values are all equal. Floating-point means are not exact: the sum
// of n copies of x divided by n can differ from x in the last place, and running sums shifted by
// an anchor keep rounding residue after a spike has left the window. Either way a window without
// any spread would show a tiny spurious variance, and every ratio guarded by "variance exactly
// 0" (skewness, kurtosis, z-scores, rescaled ranges, autocorrelation) would turn that residue
// into an arbitrary value. Knowing the window is constant restores the exact zero.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

// Length of the run of equal values ending at the newest push (-0.0 equals 0.0).
class EqualRun {
 public:
  void push(double x) {
    run_ = (run_ > 0 && x == last_) ? run_ + 1 : 1;
    last_ = x;
  }
  // True when the newest n pushes were all equal.
  bool covers(std::size_t n) const { return run_ >= n; }

 private:
  double last_ = 0.0;
  std::size_t run_ = 0;
};

// Mean of n >= 1 values summed from -0.0, first to last; n equal values give that value exactly.
inline double plain_mean(const double* p, std::size_t n) {
  bool equal = true;
  double sum = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sum += p[i];
    equal = equal && p[i] == p[0];
  }
  return equal ? p[0] : sum / static_cast<double>(n);
}

// The same over a non-empty ring, oldest to newest.
inline double plain_mean(const Ring<double>& r) {
  const double x0 = r.oldest();
  bool equal = true;
  double sum = -0.0;
  r.for_each([&](double v) {
    sum += v;
    equal = equal && v == x0;
  });
  return equal ? x0 : sum / static_cast<double>(r.size());
}

}  // namespace ostrel::numeric
