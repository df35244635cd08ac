#pragma once
// Market data documents: candles, the feeds of one pushed step and whole per-symbol series.
// Every record may be written as an object or as an array of its members in declaration order.
// Nothing is validated here; the build checks feed entries.

#include <vector>

#include "feature-store-core/json_reader.h"
#include "feature-store-core/universe.h"
#include "ostrel-core/records.h"
#include "ostrel-core/result.h"

namespace ostrel::store {

[[nodiscard]] Result<Candle, JsonError> decode_candle(JsonValue v);
[[nodiscard]] Result<std::vector<Candle>, JsonError> decode_candles(JsonValue v);
[[nodiscard]] Result<StepFeeds, JsonError> decode_step_feeds(JsonValue v);
// A map from symbol to either a bare candle array or a series document.
[[nodiscard]] Result<Universe, JsonError> decode_batch(JsonValue v);

}  // namespace ostrel::store
