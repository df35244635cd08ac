#pragma once
// Least-squares line through the newest `period` values against their positions 0 .. N - 1
// (oldest first), maintained in O(1) per value from sums shifted by an anchor K and re-anchored
// at the window mean, with the sums recomputed exactly, after every N pushes.

#include <cstddef>
#include <cstdint>

#include "constant_window.h"
#include "ring.h"

namespace ostrel::numeric {

// Position sums of a regression window of n points: T1 = sum t and D = n * sum t^2 - T1^2.
// D grows like n^4 / 12 and overflows 64 bits for windows near 2^24, so both are computed exactly
// in 128-bit integers and rounded once to double.
struct RegressionConstants {
  double t1 = 0;  // n (n - 1) / 2
  double d = 0;   // n * (n - 1) n (2n - 1) / 6 - T1^2
};

inline RegressionConstants regression_constants(std::size_t n) {
  __extension__ using u128 = unsigned __int128;
  const u128 nn = n;
  if (n == 0) return {};
  const u128 t1 = nn * (nn - 1) / 2;
  const u128 t2 = (nn - 1) * nn * (2 * nn - 1) / 6;
  const u128 d = nn * t2 - t1 * t1;
  return {static_cast<double>(t1), static_cast<double>(d)};
}

class RollingRegression {
 public:
  explicit RollingRegression(std::size_t period) : win_(period), c_(regression_constants(period)) {}

  void push(double y) {
    if (win_.full()) {
      const double e = win_.oldest() - k_;
      sty_ = sty_ - sy_ + e;  // every remaining position drops by one
      sy_ = sy_ - e;
      syy_ = syy_ - e * e;
    }
    const double t = static_cast<double>(win_.full() ? win_.capacity() - 1 : win_.size());
    win_.push(y);
    run_.push(y);
    if (!anchored_) {
      k_ = y;
      anchored_ = true;
    }
    const double dy = y - k_;
    sy_ += dy;
    sty_ += t * dy;
    syy_ += dy * dy;
    if (++count_ == win_.capacity()) reanchor();
  }

  bool full() const { return win_.full(); }
  std::size_t period() const { return win_.capacity(); }
  const Ring<double>& window() const { return win_; }
  const RegressionConstants& constants() const { return c_; }
  double sy() const { return sy_; }
  double syy() const { return syy_; }

  // The newest `period` values are all equal: the line is flat through them, whatever rounding
  // residue the shifted sums still hold.
  bool constant() const { return run_.covers(win_.capacity()); }

  // The fit below is that of a full window.
  double slope() const { return constant() ? 0.0 : (n() * sty_ - c_.t1 * sy_) / c_.d; }
  // Line value at position 0 (the oldest value).
  double intercept() const { return intercept(slope()); }
  double intercept(double b) const {
    return constant() ? win_.newest() : k_ + (sy_ - c_.t1 * b) / n();
  }
  // Line value at position t.
  double at(double t) const {
    const double b = slope();
    return intercept(b) + b * t;
  }

 private:
  double n() const { return static_cast<double>(win_.capacity()); }

  void reanchor() {
    k_ = plain_mean(win_);
    sy_ = sty_ = syy_ = -0.0;
    double t = 0;
    win_.for_each([&](double v) {
      const double dy = v - k_;
      sy_ += dy;
      sty_ += t * dy;
      syy_ += dy * dy;
      t += 1;
    });
    count_ = 0;
  }

  Ring<double> win_;
  EqualRun run_;
  RegressionConstants c_;
  double k_ = 0.0;
  bool anchored_ = false;
  double sy_ = 0.0, sty_ = 0.0, syy_ = 0.0;
  std::size_t count_ = 0;
};

}  // namespace ostrel::numeric
