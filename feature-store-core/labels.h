#pragma once
// Supervised-learning targets computed from a symbol's later candles.

#include <cstddef>
#include <span>

#include "feature-store-core/spec.h"
#include "ostrel-core/records.h"

namespace ostrel::store {

// The label of step i of the candles; NaN when the horizon runs past the data.
double label_value(std::span<const Candle> candles, std::size_t i, const Label& label);

}  // namespace ostrel::store
