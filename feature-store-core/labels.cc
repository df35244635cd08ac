#include "feature-store-core/labels.h"

#include <cmath>
#include <limits>

namespace ostrel::store {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Whether step i has `horizon` candles after it. Written as a subtraction because i + horizon
// can wrap around for a horizon near the top of the unsigned range, which would let the scan run
// past the end of the series.
bool horizon_fits(std::size_t n, std::size_t i, std::uint64_t horizon) {
  return i < n && horizon <= n - 1 - i;
}

}  // namespace

double forward_return(std::span<const Candle> candles, std::size_t i, std::uint64_t horizon,
                      bool log) {
  if (!horizon_fits(candles.size(), i, horizon)) return kNaN;
  const double c0 = candles[i].close;
  if (c0 == 0.0) return kNaN;  // either sign of zero
  const double q = candles[i + static_cast<std::size_t>(horizon)].close / c0;
  if (!log) return q - 1.0;
  // A non-positive ratio has no log return; a zero ratio would otherwise give -inf.
  if (!(q > 0.0)) return kNaN;
  return std::log(q);
}

double triple_barrier(std::span<const Candle> candles, std::size_t i, std::uint64_t horizon,
                      double up, double down) {
  if (!horizon_fits(candles.size(), i, horizon)) return kNaN;
  const double e = candles[i].close;
  // Formed exactly as (up + 1) * e and (1 - down) * e: algebraically equal forms round
  // differently, which decides touches that land on the barrier. No sign rule: a negative `down`
  // puts the lower barrier above the entry.
  const double upper = (up + 1.0) * e;
  const double lower = (1.0 - down) * e;
  const std::size_t last = i + static_cast<std::size_t>(horizon);
  // The entry bar is not examined; each later bar is judged by its extremes, the lower barrier
  // first. Comparisons with NaN are false, so a NaN extreme or barrier never counts as a touch.
  for (std::size_t j = i + 1; j <= last; ++j) {
    if (lower >= candles[j].low) return -1.0;
    if (candles[j].high >= upper) return 1.0;
  }
  return 0.0;
}

double label_value(std::span<const Candle> candles, std::size_t i, const Label& label) {
  switch (label.kind) {
    case Label::Kind::ForwardReturn:
      return forward_return(candles, i, label.horizon, label.log);
    case Label::Kind::TripleBarrier:
      return triple_barrier(candles, i, label.horizon, label.up, label.down);
  }
  return kNaN;
}

}  // namespace ostrel::store
