// Records, error texts, parameter reading and the registry's own rules.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "ostrel-core/number_text.h"
#include "ostrel-core/numeric/rolling_mean.h"
#include "ostrel-core/records.h"
#include "ostrel-core/registry.h"

namespace ostrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string candle_error(Candle c) {
  auto s = check_candle(c);
  return s ? "" : s.error().display();
}

TEST(Records, CandleChecksInOrder) {
  struct Case {
    const char* id;
    Candle c;
    const char* want;
  } cases[] = {
      {"valid flat", {0, 1, 1, 1, 1, 0}, ""},
      {"nan price", {0, kNaN, 2, 1, 1, 1}, "invalid candle: open, high, low, close must all be finite"},
      {"volume before range", {0, 1, 1, 2, 1, kInf}, "invalid candle: volume must be finite"},
      {"negative tiny volume", {0, 1, 1, 1, 1, -1e-300}, "invalid candle: volume must be non-negative"},
      {"negative zero volume", {0, 1, 1, 1, 1, -0.0}, ""},
      {"low above high", {0, 1, 1, 2, 1, 1}, "invalid candle: high must be >= low"},
      {"close above high", {0, 1, 2, 1, 3, 1}, "invalid candle: high must be >= open and >= close"},
      {"open below low", {0, 0.5, 2, 1, 1, 1}, "invalid candle: low must be <= open and <= close"},
  };
  for (const auto& c : cases) EXPECT_EQ(candle_error(c.c), c.want) << c.id;
}

TEST(Records, OrderBookAndOtherRecords) {
  auto book = [](std::vector<Level> b, std::vector<Level> a) {
    auto s = check_order_book({std::move(b), std::move(a)});
    return s ? std::string() : s.error().display();
  };
  EXPECT_EQ(book({{0, 1}}, {{1, 1}}), "invalid order book: level price must be finite and positive");
  EXPECT_EQ(book({}, {{1, 1}}), "invalid order book: order book must have at least one bid and one ask");
  EXPECT_EQ(book({{101, 1}, {101, 2}}, {{102, 1}}), "invalid order book: bids must be strictly descending in price");
  EXPECT_EQ(book({{101, 1}}, {{102, 1}, {102, 1}}), "invalid order book: asks must be strictly ascending in price");
  EXPECT_EQ(book({{101, 1}}, {{101, 1}}), "invalid order book: order book must be uncrossed (best_bid < best_ask)");
  EXPECT_EQ(book({{100, -0.0}}, {{101, 1}}), "");
  EXPECT_FALSE(check_level({-0.0, 1}));

  DerivativesTick d{-0.01, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(check_derivatives_tick(d));
  d.open_interest = kNaN;
  d.mark_price = 0;
  EXPECT_EQ(check_derivatives_tick(d).error().display(),
            "invalid derivatives tick: mark_price, index_price and futures_price must be finite and positive");
  CrossSection cs{{{kInf, 1, false, false}}, 0};
  EXPECT_EQ(check_cross_section(cs).error().display(), "invalid cross-section: member change must be finite");
  EXPECT_EQ(check_cross_section({}).error().display(),
            "invalid cross-section: cross-section must contain at least one member");
  EXPECT_EQ(check_trade({1, -1, Side::Buy, 0}).error().display(),
            "invalid trade: trade size must be finite and non-negative");
}

TEST(Errors, DisplayTexts) {
  EXPECT_EQ(IndicatorError::zero_period().display(), "period must be greater than zero");
  EXPECT_EQ(IndicatorError::period_too_large().display(),
            "invalid period: period exceeds the maximum supported window length (see MAX_PERIOD)");
  EXPECT_EQ(IndicatorError::non_finite_input().display(), "input value must be finite (got NaN or infinity)");
  EXPECT_EQ(IndicatorError::zero_multiplier().display(), "multiplier must be greater than zero");
  EXPECT_EQ(IndicatorError(IndicatorError::Kind::InvalidTick, "x").display(), "invalid tick: x");
  EXPECT_EQ(IndicatorError::invalid_parameter("x").display(), "invalid parameter: x");
  EXPECT_EQ(EngineError::unknown_indicator_type("Foo").display(), "unknown indicator type: Foo");
  EXPECT_EQ(EngineError::invalid_parameters("Sma", "x").display(), "invalid parameters for indicator Sma: x");
  EXPECT_EQ(EngineError(EngineError::Kind::InvalidStrategySpec, "x").display(), "invalid strategy spec: x");
  EXPECT_EQ(EngineError(EngineError::Kind::UndeclaredIndicator, "x").display(),
            "rule references undeclared indicator: x");
  EXPECT_EQ(EngineError::invalid_input(IndicatorError(IndicatorError::Kind::InvalidTrade, "y")).display(),
            "invalid input data: invalid trade: y");
}

TEST(NumberText, ShortestPositional) {
  struct Case {
    double x;
    const char* want;
  } cases[] = {{2.5, "2.5"}, {0.1, "0.1"}, {-3, "-3"}, {1e21, "1000000000000000000000"},
               {-0.0, "-0"}, {0, "0"}, {1.5e-7, "0.00000015"}, {123.456, "123.456"},
               {3.0000000000000004, "3.0000000000000004"}, {4294967296.0, "4294967296"}};
  for (const auto& c : cases) EXPECT_EQ(shortest_positional(c.x), c.want) << c.want;
}

std::string param_error(std::string_view sig, std::vector<double> v) {
  auto r = read_params(sig, v);
  return r ? "" : r.error();
}

TEST(Params, ReadingRules) {
  struct Case {
    const char* id;
    const char* sig;
    std::vector<double> v;
    const char* want;
  } cases[] = {
      {"missing", "N", {}, "missing parameter #0"},
      {"fraction", "N", {2.5}, "parameter #0 must be a positive integer, got 2.5"},
      {"zero", "N", {0}, "parameter #0 must be a positive integer, got 0"},
      {"negative", "N", {-3}, "parameter #0 must be a positive integer, got -3"},
      {"nan", "N", {kNaN}, "parameter #0 must be finite"},
      {"within tolerance", "N", {1.0000000000000002}, ""},
      {"beyond tolerance", "N", {3.0000000000000004}, "parameter #0 must be a positive integer, got 3.0000000000000004"},
      {"tiny positive", "N", {1e-300}, ""},
      {"u32 bounds", "UU", {0, 4294967295.0}, ""},
      {"u32 above", "U", {4294967296.0}, "parameter #0 must be a u32, got 4294967296"},
      {"u32 negative", "U", {-1}, "parameter #0 must be a u32, got -1"},
      {"i32 bounds", "I", {-2147483648.0}, ""},
      {"i32 above", "I", {2147483648.0}, "parameter #0 must be an i32, got 2147483648"},
      {"first bad wins", "NF", {0, kNaN}, "parameter #0 must be a positive integer, got 0"},
      {"second", "FN", {1, 2.5}, "parameter #1 must be a positive integer, got 2.5"},
      {"surplus ignored", "N", {3, 99, kNaN}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(param_error(c.sig, c.v), c.want) << c.id;

  auto p = read_params("NIU", std::vector<double>{1e300, -5, 7});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->n(0), std::numeric_limits<std::size_t>::max());  // saturates
  EXPECT_EQ(p->i32(1), -5);
  EXPECT_EQ(p->u32(2), 7u);
}

TEST(Registry, Catalogue) {
  std::set<std::string_view> names;
  int aliases = 0;
  for (const auto& row : kNameTable) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    if (!row.alias_of.empty()) ++aliases;
    for (char k : row.signature) EXPECT_NE(std::string_view("NFIU").find(k), std::string_view::npos);
  }
  EXPECT_EQ(names.size(), 497u);
  EXPECT_EQ(aliases, 2);
  EXPECT_EQ(Registry::instance().canonical("Bollinger")->name, "BollingerBands");
  EXPECT_EQ(Registry::instance().canonical("Macd")->name, "MacdIndicator");
  // Every registered family entry names a canonical catalogue row.
  for (const auto& e : Registry::instance().entries()) {
    const NameInfo* row = Registry::instance().info(e.name);
    ASSERT_NE(row, nullptr) << e.name;
    EXPECT_TRUE(row->alias_of.empty()) << e.name;
  }
}

TEST(Registry, UnknownNames) {
  for (const char* name : {"sma", "Foo", "", "Sma "}) {
    auto r = Registry::instance().build(name, std::vector<double>{20});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), std::string("unknown indicator type: ") + name);
  }
}

TEST(RollingMean, Basics) {
  auto rm = numeric::RollingMean::create(3);
  ASSERT_TRUE(rm);
  EXPECT_FALSE(rm->push(1));
  EXPECT_FALSE(rm->push(2));
  EXPECT_FALSE(rm->push(kNaN));
  EXPECT_EQ(rm->push(3), 2.0);
  EXPECT_EQ(numeric::RollingMean::create(0).error().display(), "period must be greater than zero");
  EXPECT_FALSE(numeric::RollingMean::create(MAX_PERIOD + 1));
  EXPECT_TRUE(numeric::RollingMean::create(MAX_PERIOD));
  // After 48 accepted inputs the sum was re-summed from the window.
  auto r3 = numeric::RollingMean::create(3);
  std::optional<double> last;
  for (int i = 1; i <= 48; ++i) last = r3->push(i * 0.1);
  double exact = -0.0;
  for (int i = 46; i <= 48; ++i) exact += i * 0.1;
  EXPECT_EQ(*last, exact / 3);
}

}  // namespace
}  // namespace ostrel
