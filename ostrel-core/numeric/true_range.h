#pragma once
// True range of a candle against the previous close, and the average true range built on it.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "../records.h"
#include "wilder_fma.h"

namespace ostrel::numeric {

// max(high - low, |high - p|, |low - p|); without a previous close, high - low.
inline double true_range(const Candle& c, std::optional<double> prev_close) {
  const double hl = c.high - c.low;
  if (!prev_close) return hl;
  return std::max({hl, std::fabs(c.high - *prev_close), std::fabs(c.low - *prev_close)});
}

// True range (high - low on the first candle) fed to a fused Wilder average. The previous close
// moves on every accepted candle, including those before the average is warm.
class AtrCore {
 public:
  explicit AtrCore(std::size_t n) : avg_(n) {}

  // False when the candle is refused (a true range or average that is not finite); nothing
  // changes then, the previous close included.
  bool push(const Candle& c) {
    const double tr = true_range(c, prev_close_);
    if (!avg_.push(tr)) return false;
    prev_close_ = c.close;
    return true;
  }

  bool ready() const { return avg_.ready(); }
  double value() const { return avg_.value(); }
  std::size_t period() const { return avg_.period(); }

 private:
  std::optional<double> prev_close_;
  WilderFma avg_;
};

}  // namespace ostrel::numeric
