#include "records.h"

#include <cmath>

namespace ostrel {

bool is_finite(double x) { return std::isfinite(x); }
bool finite_positive(double x) { return std::isfinite(x) && x > 0.0; }
bool finite_nonnegative(double x) { return std::isfinite(x) && !(x < 0.0); }

namespace {
Status<IndicatorError> bad(IndicatorError::Kind kind, const char* message) {
  return IndicatorError(kind, message);
}
}  // namespace

Status<IndicatorError> check_candle(const Candle& c) {
  constexpr auto K = IndicatorError::Kind::InvalidCandle;
  if (!is_finite(c.open) || !is_finite(c.high) || !is_finite(c.low) || !is_finite(c.close))
    return bad(K, "open, high, low, close must all be finite");
  if (!is_finite(c.volume)) return bad(K, "volume must be finite");
  if (c.volume < 0) return bad(K, "volume must be non-negative");
  if (c.low > c.high) return bad(K, "high must be >= low");
  if (c.open > c.high || c.close > c.high) return bad(K, "high must be >= open and >= close");
  if (c.open < c.low || c.close < c.low) return bad(K, "low must be <= open and <= close");
  return Ok{};
}

Status<IndicatorError> check_level(const Level& l) {
  constexpr auto K = IndicatorError::Kind::InvalidOrderBook;
  if (!finite_positive(l.price)) return bad(K, "level price must be finite and positive");
  if (!finite_nonnegative(l.size)) return bad(K, "level size must be finite and non-negative");
  return Ok{};
}

Status<IndicatorError> check_order_book(const OrderBook& b) {
  constexpr auto K = IndicatorError::Kind::InvalidOrderBook;
  if (b.bids.empty() || b.asks.empty())
    return bad(K, "order book must have at least one bid and one ask");
  for (const auto& l : b.bids)
    if (auto s = check_level(l); !s) return s;
  for (const auto& l : b.asks)
    if (auto s = check_level(l); !s) return s;
  for (std::size_t i = 1; i < b.bids.size(); ++i)
    if (!(b.bids[i].price < b.bids[i - 1].price))
      return bad(K, "bids must be strictly descending in price");
  for (std::size_t i = 1; i < b.asks.size(); ++i)
    if (!(b.asks[i].price > b.asks[i - 1].price))
      return bad(K, "asks must be strictly ascending in price");
  if (!(b.bids[0].price < b.asks[0].price))
    return bad(K, "order book must be uncrossed (best_bid < best_ask)");
  return Ok{};
}

Status<IndicatorError> check_trade(const TradePrint& t) {
  constexpr auto K = IndicatorError::Kind::InvalidTrade;
  if (!finite_positive(t.price)) return bad(K, "trade price must be finite and positive");
  if (!finite_nonnegative(t.size)) return bad(K, "trade size must be finite and non-negative");
  return Ok{};
}

Status<IndicatorError> check_derivatives_tick(const DerivativesTick& d) {
  constexpr auto K = IndicatorError::Kind::InvalidDerivativesTick;
  if (!is_finite(d.funding_rate)) return bad(K, "funding_rate must be finite");
  if (!finite_positive(d.mark_price) || !finite_positive(d.index_price) ||
      !finite_positive(d.futures_price))
    return bad(K, "mark_price, index_price and futures_price must be finite and positive");
  for (double v : {d.open_interest, d.long_size, d.short_size, d.taker_buy_volume,
                   d.taker_sell_volume, d.long_liquidation, d.short_liquidation})
    if (!finite_nonnegative(v))
      return bad(K, "open interest, sizes, volumes and liquidations must be finite and non-negative");
  return Ok{};
}

Status<IndicatorError> check_cross_section(const CrossSection& s) {
  constexpr auto K = IndicatorError::Kind::InvalidCrossSection;
  if (s.members.empty()) return bad(K, "cross-section must contain at least one member");
  for (const auto& m : s.members) {
    if (!is_finite(m.change)) return bad(K, "member change must be finite");
    if (!finite_nonnegative(m.volume)) return bad(K, "member volume must be finite and non-negative");
  }
  return Ok{};
}

}  // namespace ostrel
