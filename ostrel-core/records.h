#pragma once
// Market data records and their validation rules.

#include <cstdint>
#include <vector>

#include "errors.h"
#include "result.h"

namespace ostrel {

struct Candle {
  std::int64_t ts = 0;
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
};

struct Level {
  double price = 0, size = 0;
};

struct OrderBook {
  std::vector<Level> bids;  // best (highest) first
  std::vector<Level> asks;  // best (lowest) first
};

enum class Side : std::uint8_t { Buy, Sell };

struct TradePrint {
  double price = 0, size = 0;
  Side side = Side::Buy;
  std::int64_t timestamp = 0;
};

struct DerivativesTick {
  double funding_rate = 0, mark_price = 0, index_price = 0, futures_price = 0, open_interest = 0,
         long_size = 0, short_size = 0, taker_buy_volume = 0, taker_sell_volume = 0,
         long_liquidation = 0, short_liquidation = 0;
  std::int64_t timestamp = 0;
};

struct CrossSectionMember {
  double change = 0, volume = 0;
  bool new_high = false, new_low = false;
  // Read only by two breadth members. Input documents have no fields for them, so members
  // converted from documents leave both false.
  bool above_ma = false, bullish = false;
};

struct CrossSection {
  std::vector<CrossSectionMember> members;
  std::int64_t timestamp = 0;
};

// Number predicates shared by every rule.
bool is_finite(double x);
bool finite_positive(double x);     // +0.0 and -0.0 fail; subnormals pass
bool finite_nonnegative(double x);  // -0.0 passes

// Each check returns the first failing rule's error, in the documented order.
[[nodiscard]] Status<IndicatorError> check_candle(const Candle& c);
[[nodiscard]] Status<IndicatorError> check_level(const Level& l);
// Book rule only (sides non-empty, levels, ordering, uncrossed). The store runs check_level on
// every level first, so level errors win over an empty side.
[[nodiscard]] Status<IndicatorError> check_order_book(const OrderBook& b);
[[nodiscard]] Status<IndicatorError> check_trade(const TradePrint& t);
[[nodiscard]] Status<IndicatorError> check_derivatives_tick(const DerivativesTick& d);
[[nodiscard]] Status<IndicatorError> check_cross_section(const CrossSection& s);

}  // namespace ostrel
