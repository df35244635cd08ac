// The commands that read or evaluate market data. Every argument is read and decoded before the
// one mutation of a mutating command, so a failure leaves the store as it was.

#include "data_commands.h"

#include "feature-store-core/build.h"
#include "feature-store-core/feeds.h"
#include "feature-store-core/render.h"
#include "feature-store-core/universe.h"

namespace ostrel::store {

void UniverseDeleter::operator()(Universe* u) const { delete u; }
UniversePtr make_universe() { return UniversePtr(new Universe()); }
void clear_universe(Universe& u) { u.clear(); }

namespace {

// Members of an already parsed command carry the reader's message without a position.
StoreError parse_error(const JsonError& e) { return StoreError::parse(e.message); }

Result<std::string, StoreError> render(const FeatureTable& t, OutputFormat f) {
  if (f == OutputFormat::Csv) return render_csv(t);
  return render_json(t);
}

}  // namespace

Result<std::string, StoreError> cmd_push(FeatureStore& store, const JsonValue& cmd) {
  auto symbol = string_arg(cmd, "symbol");
  if (!symbol) return std::move(symbol.error());
  auto candle_v = required_arg(cmd, "candle");
  if (!candle_v) return std::move(candle_v.error());
  auto candle = decode_candle(*candle_v);
  if (!candle) return parse_error(candle.error());
  StepFeeds feeds;
  if (auto f = cmd.field("feeds"); f && !f->is_null()) {
    auto decoded = decode_step_feeds(*f);
    if (!decoded) return parse_error(decoded.error());
    feeds = std::move(*decoded);
  }
  store.universe().push(*symbol, *candle, std::move(feeds));
  return std::string(R"({"ok":true})");
}

Result<std::string, StoreError> cmd_push_batch(FeatureStore& store, const JsonValue& cmd) {
  auto symbol = string_arg(cmd, "symbol");
  if (!symbol) return std::move(symbol.error());
  auto candles_v = required_arg(cmd, "candles");
  if (!candles_v) return std::move(candles_v.error());
  auto candles = decode_candles(*candles_v);
  if (!candles) return parse_error(candles.error());
  store.universe().push_candles(*symbol, *candles);
  return std::string(R"({"ok":true})");
}

Result<std::string, StoreError> cmd_build(FeatureStore& store, const JsonValue& cmd) {
  auto format = select_format(store.spec(), cmd);
  if (!format) return std::move(format.error());
  auto table = build_table(store.universe(), store.spec());
  if (!table) return std::move(table.error());
  return render(*table, *format);
}

Result<std::string, StoreError> cmd_labels(FeatureStore& store, const JsonValue&) {
  auto table = build_table(store.universe(), store.spec());
  if (!table) return std::move(table.error());
  return render_json(label_table(std::move(*table), store.spec().features.size()));
}

Result<std::string, StoreError> cmd_build_batch(FeatureStore& store,
                                                std::unique_ptr<JsonDocument> doc) {
  Result<FeatureTable, StoreError> table = FeatureTable{};
  OutputFormat format{};
  {
    const JsonValue cmd = doc->root();
    auto data = required_arg(cmd, "data");
    if (!data) return std::move(data.error());
    auto universe = decode_batch(*data);
    if (!universe) return parse_error(universe.error());
    auto chosen = select_format(store.spec(), cmd);
    if (!chosen) return std::move(chosen.error());
    format = *chosen;
    doc.reset();
    table = build_table(*universe, store.spec());
    // The decoded series go out of scope here, before the output is rendered.
  }
  if (!table) return std::move(table.error());
  return render(*table, format);
}

}  // namespace ostrel::store
