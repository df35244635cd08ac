// The store's data path below the JSON layer: feed checks, the build, labels, scaling and the
// renderers' number format.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>

#include "feature-store-core/build.h"
#include "feature-store-core/labels.h"
#include "feature-store-core/render.h"
#include "feature-store-core/scaling.h"
#include "feature-store-core/universe.h"
#include "ostrel-core/number_text.h"
#include "ostrel-core/registry.h"
#include "ostrel-core/registry_table.h"
#include "tests/cpp/test_support.h"

namespace ostrel::store {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string num(double x) {
  std::string s;
  append_number(s, x);
  return s;
}

TEST(RenderNumber, Table) {
  struct Case {
    double x;
    const char* want;
  } cases[] = {
      {0.123456789, "0.12345679"},
      {1.0 / 3.0, "0.33333333"},
      {1.0, "1"},
      {100.0, "100"},
      {12345.678901234, "12345.67890123"},
      {1e-7, "0.0000001"},
      {-1e-9, "-0"},
      {-0.0, "-0"},
      {0.0, "0"},
      {2.5, "2.5"},
      {0.000000005, "0.00000001"},  // exactly half a step rounds away from zero
      {-0.000000005, "-0.00000001"},
      {2.5e-8, "0.000000030000000000000004"},
      {-42.0, "-42"},
      {1e22, "10000000000000000000000"},
      {kNaN, ""},
      {kInf, ""},
      {-kInf, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(num(c.x), c.want) << c.x;
}

TEST(RenderNumber, HugeValuesAreWrittenInFull) {
  // The quotient by 1e-8 overflows above about 1.8e300; such values are written as they are.
  for (double x : {1e301, -1e301, 1.7976931348623157e308, -1.7976931348623157e308}) {
    const std::string s = num(x);
    EXPECT_EQ(s, shortest_positional(x));
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), x);
  }
  EXPECT_EQ(num(1e308).size(), 309u);
}

TEST(RenderNumber, AgreesWithTheSharedPositionalText) {
  // The renderer's fast path must give the same text as the shared formatter.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(-10, 10);
  std::uniform_int_distribution<int> expo(-12, 20);
  std::uniform_int_distribution<int> decimals(0, 10);
  for (int i = 0; i < 200000; ++i) {
    // Wide magnitudes, and prices with few decimals (the common case of the fast path).
    const double x = i % 2 ? mant(rng) * std::pow(10.0, expo(rng))
                           : std::round(mant(rng) * 1e6) / std::pow(10.0, decimals(rng));
    const double r = std::round(x / 1e-8) * 1e-8;
    ASSERT_EQ(num(x), shortest_positional(r)) << x;
  }
}

TEST(RenderJson, StringEscaping) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"a\"b\\c", R"j("a\"b\\c")j"},
      {std::string("\b\t\n\f\r", 5), R"j("\b\t\n\f\r")j"},
      {std::string("\x01\x1f", 2), R"j("\u0001\u001f")j"},
      {std::string("\0", 1), R"j("\u0000")j"},
      {"\x7f\xc3\xa9/", "\"\x7f\xc3\xa9/\""},
  };
  for (const auto& c : cases) {
    std::string out;
    append_json_string(out, c.in);
    EXPECT_EQ(out, c.want);
  }
}

FeatureTable small_table() {
  FeatureTable t;
  t.columns = {"price.close", "q\"x"};
  t.symbols = {"A", "B,C"};
  t.index = {{0, 1}, {1, -5}};
  t.cells = {1.5, kNaN, -1e-9, kInf};
  t.rows = 2;
  return t;
}

TEST(Render, Layouts) {
  FeatureTable empty;
  empty.columns = {"price.close"};
  EXPECT_EQ(render_json(empty), R"j({"columns":["price.close"],"index":[],"data":[],"rows":0})j");
  EXPECT_EQ(render_csv(empty), "symbol,ts,price.close\n");

  const FeatureTable t = small_table();
  EXPECT_EQ(render_json(t),
            R"j({"columns":["price.close","q\"x"],"index":[{"symbol":"A","ts":1},)j"
            R"j({"symbol":"B,C","ts":-5}],"data":[[1.5,null],[-0,null]],"rows":2})j");
  EXPECT_EQ(render_csv(t), "symbol,ts,price.close,q\"x\nA,1,1.5,\nB,C,-5,-0,\n");

  const FeatureTable l = label_table(small_table(), 1);
  EXPECT_EQ(render_json(l),
            R"j({"columns":["q\"x"],"index":[{"symbol":"A","ts":1},{"symbol":"B,C","ts":-5}],)j"
            R"j("data":[[null],[null]],"rows":2})j");
  const FeatureTable none = label_table(small_table(), 2);
  EXPECT_EQ(render_json(none),
            R"j({"columns":[],"index":[{"symbol":"A","ts":1},{"symbol":"B,C","ts":-5}],)j"
            R"j("data":[[],[]],"rows":2})j");
}

// --- feeds -------------------------------------------------------------------------------

OrderBook book(std::vector<Level> bids, std::vector<Level> asks) { return {bids, asks}; }

std::string error_of(const Status<StoreError>& s) { return s ? "" : s.error().display(); }

SymbolSeries series_of(std::size_t n) {
  SymbolSeries s;
  for (std::size_t i = 0; i < n; ++i)
    s.candles.push_back({static_cast<std::int64_t>(i), 10, 11, 9, 10, 1});
  return s;
}

TEST(Feeds, AlignmentNamesTheFirstMismatchInFixedOrder) {
  SymbolSeries s = series_of(5);
  s.books = std::vector<OrderBook>(4, book({{1, 1}}, {{2, 1}}));
  EXPECT_EQ(error_of(check_alignment("SYM", s)),
            "data: SYM: books feed length 4 does not match 5 candles");
  s.reference = std::vector<Candle>(4);
  EXPECT_EQ(error_of(check_alignment("SYM", s)),
            "data: SYM: reference feed length 4 does not match 5 candles");
  SymbolSeries t = series_of(2);
  t.trades.emplace();  // present but empty still has to match
  EXPECT_EQ(error_of(check_alignment("X", t)),
            "data: X: trades feed length 0 does not match 2 candles");
  t.trades->resize(2);
  EXPECT_EQ(error_of(check_alignment("X", t)), "");
}

TEST(Feeds, ValidationOrderAndTexts) {
  const std::string pre = "data: S: malformed feed entry: invalid input data: ";
  struct Case {
    const char* id;
    OrderBook b;
    std::string want;
  } cases[] = {
      {"level error beats empty side", book({}, {{0, 1}}),
       pre + "invalid order book: level price must be finite and positive"},
      {"bid levels before ask levels", book({{1, -1}}, {{0, 1}}),
       pre + "invalid order book: level size must be finite and non-negative"},
      {"empty side", book({}, {{2, 1}}),
       pre + "invalid order book: order book must have at least one bid and one ask"},
      {"crossed", book({{3, 1}}, {{2, 1}}),
       pre + "invalid order book: order book must be uncrossed (best_bid < best_ask)"},
      {"valid", book({{1, 1}}, {{2, 1}}), ""},
  };
  for (const auto& c : cases) {
    SymbolSeries s = series_of(1);
    s.books = std::vector<OrderBook>{c.b};
    EXPECT_EQ(error_of(validate_feeds("S", s)), c.want) << c.id;
  }
  // Derivatives come before books, books before trades, trades before sections.
  SymbolSeries s = series_of(1);
  s.books = std::vector<OrderBook>{book({{3, 1}}, {{2, 1}})};
  s.sections = std::vector<CrossSection>{CrossSection{}};
  s.trades = std::vector<std::vector<TradePrint>>{{TradePrint{0, 1, Side::Buy, 0}}};
  DerivativesTick d;
  d.funding_rate = kNaN;
  s.derivs = std::vector<DerivativesTick>{d};
  EXPECT_EQ(error_of(validate_feeds("S", s)),
            pre + "invalid derivatives tick: funding_rate must be finite");
  s.derivs.reset();
  s.books.reset();
  EXPECT_EQ(error_of(validate_feeds("S", s)),
            pre + "invalid trade: trade price must be finite and positive");
  s.trades.reset();
  EXPECT_EQ(error_of(validate_feeds("S", s)),
            pre + "invalid cross-section: cross-section must contain at least one member");
}

TEST(Feeds, RequirementTableFollowsTheCatalogue) {
  // The requirement of every name is derived from its input kind; this is the table users see.
  const std::map<std::string, std::set<std::string>> want = {
      {"reference",
       {"Alpha", "Beta", "BetaNeutralSpread", "Cointegration", "DistanceSsd", "GrangerCausality",
        "HasbrouckInformationShare", "InformationRatio", "KalmanHedgeRatio", "KendallTau",
        "LeadLagCrossCorrelation", "OuHalfLife", "PairSpreadZScore", "PairwiseBeta",
        "PearsonCorrelation", "RelativeStrengthAB", "RollingCorrelation", "RollingCovariance",
        "SpearmanCorrelation", "SpreadAr1Coefficient", "SpreadBollingerBands", "SpreadHurst",
        "TreynorRatio", "VarianceRatio"}},
      {"derivs",
       {"CalendarSpread", "EstimatedLeverageRatio", "FundingBasis", "FundingImpliedApr",
        "FundingRate", "FundingRateMean", "FundingRateZScore", "LiquidationFeatures",
        "LongShortRatio", "OIPriceDivergence", "OIWeighted", "OiToVolumeRatio",
        "OpenInterestDelta", "OpenInterestMomentum", "PerpetualPremiumIndex",
        "TakerBuySellRatio", "TermStructureBasis"}},
      {"books",
       {"DepthSlope", "Microprice", "OrderBookImbalanceFull", "OrderBookImbalanceTop1",
        "OrderBookImbalanceTopN", "OrderFlowImbalance", "QuotedSpread"}},
      {"trades",
       {"AmihudIlliquidity", "CumulativeVolumeDelta", "Pin", "RollMeasure", "SignedVolume",
        "TradeImbalance", "TradeSignAutocorrelation", "Vpin"}},
      {"trades and books", {"EffectiveSpread", "KylesLambda", "RealizedSpread"}},
      {"sections",
       {"AbsoluteBreadthIndex", "AdVolumeLine", "AdvanceDecline", "AdvanceDeclineRatio",
        "BreadthThrust", "BullishPercentIndex", "CumulativeVolumeIndex", "HighLowIndex",
        "McClellanOscillator", "McClellanSummationIndex", "NewHighsNewLows", "PercentAboveMa",
        "TickIndex", "Trin", "UpDownVolumeRatio"}},
  };
  std::map<std::string, std::set<std::string>> got;
  for (const NameInfo& row : kNameTable) {
    const FeedRequirement r = feed_requirement(row.name);
    if (r != FeedRequirement::None) got[std::string(feed_text(r))].insert(std::string(row.name));
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(feed_requirement("orderflowimbalance"), FeedRequirement::None);  // exact case
}

Feature price(PriceField f, const char* column) {
  Feature x;
  x.kind = Feature::Kind::Price;
  x.price_field = f;
  x.column = column;
  return x;
}

Feature indicator(const char* name, std::string key) {
  Feature x;
  x.kind = Feature::Kind::Indicator;
  x.name = name;
  x.key = key;
  x.column = key;
  return x;
}

FeatureSpec spec_of(std::vector<Feature> features) {
  FeatureSpec s;
  s.universe = {"A"};
  s.features = std::move(features);
  return s;
}

TEST(Feeds, RequirementCheckAndStepView) {
  FeatureSpec spec = spec_of({price(PriceField::Close, "price.close"),
                              indicator("KylesLambda", "KylesLambda(5)")});
  SymbolSeries s = series_of(2);
  s.books = std::vector<OrderBook>(2, book({{1, 1}}, {{2, 1}}));
  EXPECT_EQ(error_of(check_requirements(spec, s)),
            "KylesLambda needs the trades and books feed, which this build does not supply");
  s.trades = std::vector<std::vector<TradePrint>>(2);
  EXPECT_EQ(error_of(check_requirements(spec, s)), "");

  s.reference = std::vector<Candle>{{0, 7, 7, 7, 7, 0}, {1, 8, 8, 8, 8, 0}};
  const StepContext c = step_context(s, 1);
  EXPECT_EQ(c.candle, &s.candles[1]);
  EXPECT_EQ(c.reference, 8.0);
  EXPECT_EQ(c.book, &(*s.books)[1]);
  EXPECT_EQ(c.derivatives, nullptr);
  EXPECT_EQ(c.cross_section, nullptr);
  EXPECT_TRUE(c.trades.empty());
}

TEST(Universe, PushKeepsFeedsParallelOnlyWhenEveryStepCarriesThem) {
  Universe u;
  StepFeeds f;
  f.reference = 2.0;
  u.push("B", {5, 1, 1, 1, 1, 1}, f);
  u.push("A", {1, 1, 1, 1, 1, 1}, {});
  u.push("A", {2, 1, 1, 1, 1, 1}, {});
  u.push("A", {3, 1, 1, 1, 1, 1}, f);
  std::vector<std::string> order;
  for (const auto& [sym, s] : u) order.push_back(sym);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B"}));
  const SymbolSeries& b = u.begin()->second;
  EXPECT_EQ(error_of(check_alignment("A", b)),
            "data: A: reference feed length 1 does not match 3 candles");
  const Candle want{5, 2, 2, 2, 2, 0};
  const Candle got = (*std::next(u.begin())->second.reference)[0];
  EXPECT_EQ(std::memcmp(&got, &want, sizeof want), 0);
}

// --- build with raw candle fields --------------------------------------------------------

struct Built {
  std::string json;
  std::string error;
};

Built run(const Universe& u, const FeatureSpec& spec) {
  auto t = build_table(u, spec);
  if (!t) return {"", t.error().display()};
  return {render_json(*t), ""};
}

TEST(Build, WarmupWindowLabelsAndOrder) {
  Universe u;
  const double closes[] = {100, 110, 121, 0};
  for (int i = 0; i < 4; ++i)
    u.push("b", {i, closes[i], closes[i] + 5, closes[i] - 6, closes[i], kNaN}, {});
  u.push("B", {9, 1, 1, 1, 1, 1}, {});
  FeatureSpec spec = spec_of(
      {price(PriceField::Close, "price.close"), price(PriceField::Volume, "price.volume")});
  Label fr;
  fr.horizon = 1;
  fr.column = "fwd_return(1)";
  spec.labels = {fr};
  EXPECT_EQ(run(u, spec).json,
            R"j({"columns":["price.close","price.volume","fwd_return(1)"],)j"
            R"j("index":[{"symbol":"B","ts":9},{"symbol":"b","ts":0},{"symbol":"b","ts":1},)j"
            R"j({"symbol":"b","ts":2},{"symbol":"b","ts":3}],)j"
            R"j("data":[[1,1,null],[100,null,0.1],[110,null,0.1],[121,null,-1],[0,null,null]],)j"
            R"j("rows":5})j");
  spec.warmup = WarmupPolicy::Skip;  // NaN volume: only B's row is ready
  spec.window = 1;
  EXPECT_EQ(run(u, spec).json,
            R"j({"columns":["price.close","price.volume","fwd_return(1)"],)j"
            R"j("index":[{"symbol":"B","ts":9}],"data":[[1,1,null]],"rows":1})j");
  spec.features.pop_back();
  EXPECT_EQ(run(u, spec).json,
            R"j({"columns":["price.close","fwd_return(1)"],)j"
            R"j("index":[{"symbol":"B","ts":9},{"symbol":"b","ts":3}],)j"
            R"j("data":[[1,null],[0,null]],"rows":2})j");

  EXPECT_EQ(run(Universe{}, spec).json,
            R"j({"columns":["price.close","fwd_return(1)"],"index":[],"data":[],"rows":0})j");
  Universe empty_series;
  empty_series.insert("Z", SymbolSeries{});
  EXPECT_EQ(run(empty_series, spec).json,
            R"j({"columns":["price.close","fwd_return(1)"],"index":[],"data":[],"rows":0})j");
}

TEST(Build, WindowKeepsTheLastRowsOfEverySymbol) {
  // Rows are dropped in batches while replaying; the result must equal trimming at the end.
  Universe u;
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 37 * (s + 1); ++i)
      u.push(std::string(1, static_cast<char>('A' + s)),
             {i, 1, 1, 1, i % 3 == 0 ? kNaN : double(i), double(s)}, {});
  for (WarmupPolicy w : {WarmupPolicy::Nan, WarmupPolicy::Skip}) {
    FeatureSpec full = spec_of(
        {price(PriceField::Close, "price.close"), price(PriceField::Volume, "price.volume")});
    full.warmup = w;
    auto all = build_table(u, full);
    ASSERT_TRUE(all);
    for (std::uint64_t window : {1u, 2u, 5u, 24u, 25u, 1000u}) {
      FeatureSpec spec = full;
      spec.window = window;
      auto t = build_table(u, spec);
      ASSERT_TRUE(t);
      std::vector<std::pair<std::string, std::int64_t>> want, got;
      for (std::size_t r = 0; r < all->rows; ++r) want.emplace_back(all->symbol_of(r), all->index[r].ts);
      for (std::size_t r = 0; r < t->rows; ++r) got.emplace_back(t->symbol_of(r), t->index[r].ts);
      std::vector<std::pair<std::string, std::int64_t>> trimmed;
      for (std::size_t r = 0; r < want.size(); ++r) {
        std::size_t later = 0;
        for (std::size_t q = r + 1; q < want.size(); ++q) later += want[q].first == want[r].first;
        if (later < window) trimmed.push_back(want[r]);
      }
      EXPECT_EQ(got, trimmed) << window;
      for (std::size_t r = 0; r < t->rows; ++r)
        EXPECT_EQ(t->row(r)[1], double(t->symbol_of(r)[0] - 'A'));
    }
  }
}

// The step-by-step reading, kept naive on purpose: one map of published outputs per step.
std::vector<std::vector<double>> literal_replay(const FeatureSpec& spec, const SymbolSeries& s) {
  std::vector<std::pair<std::string, EvaluatorPtr>> evs;
  for (const Feature& f : spec.features) {
    if (f.kind == Feature::Kind::Price) continue;
    bool seen = false;
    for (auto& [k, e] : evs) seen = seen || k == f.key;
    if (!seen) evs.emplace_back(f.key, std::move(*Registry::instance().build(f.name, f.params)));
  }
  std::vector<std::vector<double>> rows;
  for (std::size_t i = 0; i < s.candles.size(); ++i) {
    std::map<std::string, double> published;
    for (auto& [key, ev] : evs) {
      if (auto v = ev->update(step_context(s, i))) {
        published[key] = *v;
        const auto ex = ev->extras();
        const NameInfo* row = Registry::instance().canonical(key.substr(0, key.find('(')));
        for (std::size_t k = 0; k < ex.size(); ++k)
          published[key + "." + std::string(row->extras[k])] = ex[k];
      }
    }
    std::vector<double> values;
    for (const Feature& f : spec.features) {
      std::string key = f.key;
      if (f.kind == Feature::Kind::Price) {
        values.push_back(s.candles[i].close);
        continue;
      }
      if (f.kind == Feature::Kind::Indicator && f.field) key += "." + *f.field;
      auto it = published.find(key);
      values.push_back(it == published.end() ? kNaN : it->second);
    }
    rows.push_back(values);
  }
  return rows;
}

TEST(Build, ReplayMatchesTheStepByStepReading) {
  // Every implemented indicator with its example parameters (and each of its extras) over a
  // series long enough to span several replay blocks, with a rejected step in the middle.
  const auto steps = testing::random_walk(700, 5);
  SymbolSeries s;
  s.reference.emplace();
  s.derivs.emplace();
  s.books.emplace();
  s.trades.emplace();
  s.sections.emplace();
  for (const auto& st : steps) {
    s.candles.push_back(st.candle);
    s.reference->push_back({st.candle.ts, st.reference, st.reference, st.reference, st.reference, 0});
    s.derivs->push_back(st.deriv);
    s.books->push_back(st.book);
    s.trades->push_back(st.trades);
    s.sections->push_back(st.section);
  }
  s.candles[300].close = kNaN;
  std::vector<Feature> features = {price(PriceField::Close, "price.close")};
  for (const FamilyEntry& e : Registry::instance().entries()) {
    std::string key = std::string(e.name) + "(";
    for (std::size_t k = 0; k < e.example.count; ++k)
      key += (k ? "," : "") + shortest_positional(e.example.v[k]);
    key += ")";
    Feature f = indicator(e.name.data(), key);
    f.name = std::string(e.name);
    f.params.assign(e.example.values().begin(), e.example.values().end());
    features.push_back(f);
    for (std::string_view x : Registry::instance().canonical(e.name)->extras) {
      f.field = std::string(x);
      f.column = key + "." + *f.field;
      features.push_back(f);
    }
    f.field = "nosuch";
    features.push_back(f);
  }
  FeatureSpec spec = spec_of(features);
  Universe u;
  u.insert("S", s);
  auto t = build_table(u, spec);
  ASSERT_TRUE(t) << t.error().display();
  const auto want = literal_replay(spec, s);
  ASSERT_EQ(t->rows, want.size());
  for (std::size_t r = 0; r < t->rows; ++r)
    for (std::size_t c = 0; c < features.size(); ++c) {
      const double a = t->row(r)[c], b = want[r][c];
      ASSERT_TRUE((std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0)
          << features[c].column << " row " << r << ": " << a << " vs " << b;
    }
}

TEST(Build, ChecksRunSymbolBySymbolBeforeAnyEvaluation) {
  Universe u;
  SymbolSeries a = series_of(2);
  a.books = std::vector<OrderBook>(2, book({{3, 1}}, {{2, 1}}));  // crossed, in the later symbol
  SymbolSeries b = series_of(2);
  b.derivs = std::vector<DerivativesTick>(1);
  u.insert("B", a);
  u.insert("A", b);
  const FeatureSpec spec = spec_of({price(PriceField::Close, "price.close")});
  EXPECT_EQ(run(u, spec).error, "data: A: derivs feed length 1 does not match 2 candles");
  FeatureSpec unknown = spec_of({indicator("NoSuchThing", "NoSuchThing()")});
  EXPECT_EQ(run(u, unknown).error,
            "unknown indicator: NoSuchThing: unknown indicator type: NoSuchThing");
  FeatureSpec bad = spec;
  bad.window = 0;
  EXPECT_EQ(run(u, bad).error, "bad spec: window must be > 0");
}

TEST(Labels, ForwardReturnAndTripleBarrier) {
  auto bars = [](std::vector<std::array<double, 3>> hlc) {
    std::vector<Candle> v;
    for (auto [h, l, c] : hlc) v.push_back({0, c, h, l, c, 0});
    return v;
  };
  Label fr{Label::Kind::ForwardReturn, 2, false, 0, 0, ""};
  Label lr{Label::Kind::ForwardReturn, 1, true, 0, 0, ""};
  Label tb{Label::Kind::TripleBarrier, 2, false, 0.05, 0.05, ""};
  const auto up = bars({{100, 100, 100}, {110, 110, 110}, {121, 121, 121}});
  EXPECT_NEAR(label_value(up, 0, fr), 0.21, 1e-12);
  EXPECT_TRUE(std::isnan(label_value(up, 1, fr)));
  EXPECT_DOUBLE_EQ(label_value(up, 0, lr), std::log(1.1));
  Label huge = fr;
  huge.horizon = std::numeric_limits<std::uint64_t>::max();
  EXPECT_TRUE(std::isnan(label_value(up, 0, huge)));

  struct Case {
    const char* id;
    std::vector<std::array<double, 3>> next;
    double want;
  } cases[] = {
      {"low touches lower", {{100, 95, 100}, {100, 100, 100}}, -1},
      {"high touches upper", {{105, 96, 100}, {100, 100, 100}}, 1},
      {"inside both", {{104.9, 95.1, 100}, {104, 96, 100}}, 0},
      {"both in one bar: lower first", {{110, 90, 100}, {100, 100, 100}}, -1},
      {"nan does not stop the scan", {{kNaN, kNaN, kNaN}, {106, 100, 100}}, 1},
  };
  for (const auto& c : cases) {
    auto v = bars({{100, 100, 100}});
    auto more = bars(c.next);
    v.insert(v.end(), more.begin(), more.end());
    EXPECT_EQ(label_value(v, 0, tb), c.want) << c.id;
  }
}

TEST(Scaling, ZScoreAndMinMax) {
  auto column = [](std::vector<double> xs, Scaling s) {
    FeatureTable t;
    t.columns = {"f", "label"};
    for (double x : xs) {
      t.cells.push_back(x);
      t.cells.push_back(0.05);
    }
    t.rows = xs.size();
    apply_scaling(t, s, 1);
    std::vector<double> out;
    for (std::size_t r = 0; r < t.rows; ++r) {
      out.push_back(t.cells[2 * r]);
      EXPECT_EQ(t.cells[2 * r + 1], 0.05);
    }
    return out;
  };
  auto z = column({1, 2, 3}, Scaling::ZScore);
  EXPECT_NEAR(z[0], -1.224744871391589, 1e-15);
  EXPECT_EQ(z[1], 0.0);
  auto c = column({5, kNaN, 5}, Scaling::ZScore);
  EXPECT_EQ(c[0], 0.0);
  EXPECT_TRUE(std::isnan(c[1]));
  auto m = column({2, 4, kInf, 6}, Scaling::MinMax);
  EXPECT_EQ(m, (std::vector<double>{0, 0.5, kInf, 1}));
  auto two = column({0, 1, 99, 100}, Scaling::MinMax);
  EXPECT_EQ(two, (std::vector<double>{0, 0.01, 0.99, 1}));
}

}  // namespace
}  // namespace ostrel::store
