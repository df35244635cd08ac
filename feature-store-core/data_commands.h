#pragma once
// The commands that read or evaluate market data. Each takes the store and the parsed command
// object and returns the response text; a failure leaves the store as it was.

#include <memory>
#include <string>

#include "json_reader.h"
#include "ostrel-core/result.h"
#include "store.h"
#include "store_error.h"

namespace ostrel::store {

// An empty streaming universe, and emptying one (reset).
UniversePtr make_universe();
void clear_universe(Universe& u);

Result<std::string, StoreError> cmd_push(FeatureStore& store, const JsonValue& cmd);
Result<std::string, StoreError> cmd_push_batch(FeatureStore& store, const JsonValue& cmd);
Result<std::string, StoreError> cmd_build(FeatureStore& store, const JsonValue& cmd);
Result<std::string, StoreError> cmd_labels(FeatureStore& store, const JsonValue& cmd);
// Takes the parsed command over: once its members are read the document is released, so the
// parsed text does not stay in memory beside the table and the rendered output.
Result<std::string, StoreError> cmd_build_batch(FeatureStore& store,
                                                std::unique_ptr<JsonDocument> doc);

}  // namespace ostrel::store
