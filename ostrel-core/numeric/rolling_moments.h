#pragma once
// Mean, population variance and (optionally) the third and fourth central moments of the newest
// `period` values, from power sums shifted by an anchor K. Shifting keeps the sums small when the
// values sit far from zero; after every `period` pushes K moves to the window mean and the sums
// are recomputed exactly, which bounds both drift and cancellation.

#include <cstddef>

#include "constant_window.h"
#include "ring.h"

namespace ostrel::numeric {

template <bool kHigher>
class RollingMomentsT {
 public:
  explicit RollingMomentsT(std::size_t period) : win_(period) {}

  void push(double x) {
    if (win_.full()) sub(win_.oldest() - k_);
    win_.push(x);
    run_.push(x);
    if (!anchored_) {
      k_ = x;
      anchored_ = true;
    }
    add(x - k_);
    if (++count_ == win_.capacity()) reanchor();
  }

  bool full() const { return win_.full(); }
  std::size_t size() const { return win_.size(); }
  std::size_t period() const { return win_.capacity(); }
  const Ring<double>& window() const { return win_; }

  // The newest `period` values are all equal: the window has no spread at all, whatever
  // rounding residue the shifted sums still hold.
  bool constant() const { return run_.covers(win_.capacity()); }

  // The statistics below are those of a full window.
  double mean() const { return constant() ? win_.newest() : k_ + s1_ / n(); }
  double variance() const {
    if (constant()) return 0.0;
    const double d = s1_ / n();
    const double v = s2_ / n() - d * d;
    // Rounding can leave a slightly negative difference. A NaN (the sums went beyond the double
    // range, inf - inf) stays NaN: flooring it would report a window of huge swings as flat.
    return v < 0 ? 0.0 : v;
  }
  double third_moment() const requires kHigher {
    if (constant()) return 0.0;
    const double d = s1_ / n();
    return s3_ / n() - 3 * d * s2_ / n() + 2 * d * d * d;
  }
  double fourth_moment() const requires kHigher {
    if (constant()) return 0.0;
    const double d = s1_ / n();
    return s4_ / n() - 4 * d * s3_ / n() + 6 * d * d * s2_ / n() - 3 * d * d * d * d;
  }

 private:
  double n() const { return static_cast<double>(win_.capacity()); }

  void add(double e) {
    const double e2 = e * e;
    s1_ += e;
    s2_ += e2;
    if constexpr (kHigher) {
      s3_ += e2 * e;
      s4_ += e2 * e2;
    }
  }
  void sub(double e) {
    const double e2 = e * e;
    s1_ -= e;
    s2_ -= e2;
    if constexpr (kHigher) {
      s3_ -= e2 * e;
      s4_ -= e2 * e2;
    }
  }

  void reanchor() {
    k_ = plain_mean(win_);
    s1_ = s2_ = s3_ = s4_ = -0.0;
    win_.for_each([&](double v) { add(v - k_); });
    count_ = 0;
  }

  Ring<double> win_;
  EqualRun run_;
  double k_ = 0.0;
  bool anchored_ = false;
  double s1_ = 0.0, s2_ = 0.0, s3_ = 0.0, s4_ = 0.0;
  std::size_t count_ = 0;
};

// Mean and variance only.
using RollingMoments = RollingMomentsT<false>;
// Also the third and fourth central moments.
using RollingHigherMoments = RollingMomentsT<true>;

}  // namespace ostrel::numeric
