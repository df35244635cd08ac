#include "feature-store-core/labels.h"

#include <cmath>
#include <limits>

namespace ostrel::store {

double label_value(std::span<const Candle> candles, std::size_t i, const Label& label) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = candles.size();
  const std::uint64_t h = label.horizon;
  // i + h > n - 1, written so that a huge horizon cannot wrap around.
  if (i >= n || h > n - 1 - i) return kNaN;
  const double entry = candles[i].close;
  if (label.kind == Label::Kind::ForwardReturn) {
    if (entry == 0.0) return kNaN;
    const double q = candles[i + h].close / entry;
    return label.log ? std::log(q) : q - 1.0;
  }
  const double upper = (label.up + 1.0) * entry;
  const double lower = (1.0 - label.down) * entry;
  for (std::size_t j = i + 1; j <= i + h; ++j) {
    // Lower barrier first: a bar that spans both counts as a loss.
    if (lower >= candles[j].low) return -1.0;
    if (candles[j].high >= upper) return 1.0;
  }
  return 0.0;
}

}  // namespace ostrel::store
