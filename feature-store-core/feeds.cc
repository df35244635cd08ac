#include "feature-store-core/feeds.h"

#include <string_view>
#include <unordered_map>

namespace ostrel::store {

namespace {

using std::string_view;

constexpr string_view kCandleFields[] = {"ts", "open", "high", "low", "close", "volume"};
constexpr string_view kLevelFields[] = {"price", "size"};
constexpr string_view kBookFields[] = {"bids", "asks"};
constexpr string_view kTradeFields[] = {"price", "size", "side", "timestamp"};
constexpr string_view kSides[] = {"buy", "sell"};
constexpr string_view kDerivFields[] = {
    "funding_rate",     "mark_price",        "index_price",      "futures_price",
    "open_interest",    "long_size",         "short_size",       "taker_buy_volume",
    "taker_sell_volume", "long_liquidation", "short_liquidation", "timestamp"};
constexpr string_view kMemberFields[] = {"change", "volume", "new_high", "new_low"};
constexpr string_view kSectionFields[] = {"members", "timestamp"};
constexpr string_view kStepFeedFields[] = {"reference", "deriv", "orderbook", "trades",
                                           "cross_section"};
constexpr string_view kSeriesFields[] = {"candles", "reference", "derivs",
                                         "books",   "trades",    "sections"};

template <class T>
Result<T, JsonError> done(const RecordReader& r, T value) {
  if (auto e = r.finish()) return std::move(*e);
  return value;
}

// Candles dominate every document, so the two usual spellings, [ts, o, h, l, c, v] and an
// object with exactly the six members in order, are read directly; anything else (and every
// error) goes through the general record reader, which owns the messages.
bool fast_candle(JsonValue v, Candle& c) {
  double x[5];
  if (!v.flat_numbers(kCandleFields, c.ts, x)) return false;
  c.open = x[0];
  c.high = x[1];
  c.low = x[2];
  c.close = x[3];
  c.volume = x[4];
  return true;
}

Result<Level, JsonError> decode_level(JsonValue v) {
  RecordReader r(v, "struct Level", kLevelFields);
  Level l;
  l.price = r.f64(0);
  l.size = r.f64(1);
  return done(r, l);
}

Result<OrderBook, JsonError> decode_book(JsonValue v) {
  RecordReader r(v, "struct OrderBook", kBookFields);
  OrderBook b;
  b.bids = r.list(0, decode_level);
  b.asks = r.list(1, decode_level);
  return done(r, std::move(b));
}

Result<Side, JsonError> decode_side(JsonValue v) {
  auto i = decode_enum(v, "Side", kSides);
  if (!i) return std::move(i.error());
  return *i == 0 ? Side::Buy : Side::Sell;
}

Result<TradePrint, JsonError> decode_trade(JsonValue v) {
  RecordReader r(v, "struct TradePrint", kTradeFields);
  TradePrint t;
  t.price = r.f64(0);
  t.size = r.f64(1);
  t.side = r.record(2, decode_side);
  t.timestamp = r.i64(3);
  return done(r, t);
}

Result<std::vector<TradePrint>, JsonError> decode_trade_list(JsonValue v) {
  return decode_list(v, decode_trade);
}

Result<DerivativesTick, JsonError> decode_deriv(JsonValue v) {
  RecordReader r(v, "struct DerivativesTick", kDerivFields);
  DerivativesTick d;
  double* fields[] = {&d.funding_rate,     &d.mark_price,        &d.index_price,
                      &d.futures_price,    &d.open_interest,     &d.long_size,
                      &d.short_size,       &d.taker_buy_volume,  &d.taker_sell_volume,
                      &d.long_liquidation, &d.short_liquidation};
  for (std::size_t i = 0; i < 11; ++i) *fields[i] = r.f64(i);
  d.timestamp = r.i64(11);
  return done(r, d);
}

Result<CrossSectionMember, JsonError> decode_member(JsonValue v) {
  RecordReader r(v, "struct CrossSectionMember", kMemberFields);
  CrossSectionMember m;
  m.change = r.f64(0);
  m.volume = r.f64(1);
  m.new_high = r.boolean(2);
  m.new_low = r.boolean(3);
  return done(r, m);
}

Result<CrossSection, JsonError> decode_section(JsonValue v) {
  RecordReader r(v, "struct CrossSection", kSectionFields);
  CrossSection s;
  s.members = r.list(0, decode_member);
  s.timestamp = r.i64(1);
  return done(r, std::move(s));
}

Result<SymbolSeries, JsonError> decode_series(JsonValue v) {
  RecordReader r(v, "struct SeriesDoc", kSeriesFields, 1);
  SymbolSeries s;
  s.candles = r.record(0, decode_candles);
  s.reference = r.opt_record(1, decode_candles);
  s.derivs = r.opt_list(2, decode_deriv);
  s.books = r.opt_list(3, decode_book);
  s.trades = r.opt_list(4, decode_trade_list);
  s.sections = r.opt_list(5, decode_section);
  return done(r, std::move(s));
}

// Either a bare candle array (tried first) or a series document.
Result<SymbolSeries, JsonError> decode_symbol_input(JsonValue v) {
  if (v.is_array()) {
    if (auto c = decode_candles(v)) {
      SymbolSeries s;
      s.candles = std::move(*c);
      return s;
    }
  }
  if (auto s = decode_series(v)) return s;
  return no_variant_matched("SymbolInputDoc", v);
}

}  // namespace

Result<Candle, JsonError> decode_candle(JsonValue v) {
  Candle c;
  if (fast_candle(v, c)) return c;
  RecordReader r(v, "struct CandleInput", kCandleFields);
  c.ts = r.i64(0);
  c.open = r.f64(1);
  c.high = r.f64(2);
  c.low = r.f64(3);
  c.close = r.f64(4);
  c.volume = r.f64(5);
  return done(r, c);
}

Result<std::vector<Candle>, JsonError> decode_candles(JsonValue v) {
  return decode_list(v, decode_candle);
}

Result<StepFeeds, JsonError> decode_step_feeds(JsonValue v) {
  RecordReader r(v, "struct StepFeeds", kStepFeedFields, 0);
  StepFeeds f;
  f.reference = r.opt_f64(0);
  f.deriv = r.opt_record(1, decode_deriv);
  f.orderbook = r.opt_record(2, decode_book);
  f.trades = r.opt_record(3, decode_trade_list);
  f.cross_section = r.opt_record(4, decode_section);
  return done(r, std::move(f));
}

Result<Universe, JsonError> decode_batch(JsonValue v) {
  if (!v.is_object()) return v.invalid_type("a map");
  // A repeated symbol: the last document replaces the earlier ones, which are never read. Found
  // with one hash pass, since a batch may hold very many symbols.
  std::unordered_map<std::string_view, std::size_t> last;
  last.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) last[v.key(i)] = i;
  Universe u;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (last[v.key(i)] != i) continue;
    auto s = decode_symbol_input(v.member(i));
    if (!s) return std::move(s.error());
    u.insert(std::string(v.key(i)), std::move(*s));
  }
  return u;
}

}  // namespace ostrel::store
