// Placeholder until the data path lands: the store answers the data commands with a clean error.
// Arguments are still read in their documented order, so the envelope behaves as it will.

#include "data_commands.h"

namespace ostrel::store {

class Universe {};

void UniverseDeleter::operator()(Universe* u) const { delete u; }
UniversePtr make_universe() { return UniversePtr(new Universe()); }
void clear_universe(Universe&) {}

namespace {
StoreError not_available() { return StoreError::data("not available"); }
}  // namespace

Result<std::string, StoreError> cmd_push(FeatureStore&, const JsonValue& cmd) {
  auto symbol = string_arg(cmd, "symbol");
  if (!symbol) return std::move(symbol.error());
  auto candle = required_arg(cmd, "candle");
  if (!candle) return std::move(candle.error());
  return not_available();
}

Result<std::string, StoreError> cmd_push_batch(FeatureStore&, const JsonValue& cmd) {
  auto symbol = string_arg(cmd, "symbol");
  if (!symbol) return std::move(symbol.error());
  auto candles = required_arg(cmd, "candles");
  if (!candles) return std::move(candles.error());
  return not_available();
}

Result<std::string, StoreError> cmd_build(FeatureStore& store, const JsonValue& cmd) {
  auto format = select_format(store.spec(), cmd);
  if (!format) return std::move(format.error());
  return not_available();
}

Result<std::string, StoreError> cmd_labels(FeatureStore&, const JsonValue&) {
  return not_available();
}

Result<std::string, StoreError> cmd_build_batch(FeatureStore& store, const JsonValue& cmd) {
  auto data = required_arg(cmd, "data");
  if (!data) return std::move(data.error());
  auto format = select_format(store.spec(), cmd);
  if (!format) return std::move(format.error());
  return not_available();
}

}  // namespace ostrel::store
