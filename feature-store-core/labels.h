#pragma once
// Supervised-learning targets: values computed from a symbol's later candles, as seen from one
// row's step. This is the only place in a build where a row may look ahead.

#include <cstddef>
#include <cstdint>
#include <span>

#include "feature-store-core/spec.h"
#include "ostrel-core/records.h"

namespace ostrel::store {

// Return of the close `horizon` bars after step i: close[i+h] / close[i] - 1, or its natural
// logarithm. NaN when the horizon runs past the last candle or the entry close is zero.
double forward_return(std::span<const Candle> candles, std::size_t i, std::uint64_t horizon,
                      bool log);

// Which barrier the bars i+1 .. i+h touch first: -1 for the lower one (tested first, so a bar
// crossing both counts as -1), +1 for the upper one, 0 for neither. NaN when the horizon runs past
// the last candle.
double triple_barrier(std::span<const Candle> candles, std::size_t i, std::uint64_t horizon,
                      double up, double down);

// One label's value for the row at step i of the symbol whose whole series is `candles`. The
// look-ahead uses every later candle, whether or not its own row is kept in the table.
double label_value(std::span<const Candle> candles, std::size_t i, const Label& label);

}  // namespace ostrel::store
