// Labels and whole-table scaling: small hand-checkable tables, including the ends of the series,
// zero and NaN prices, bars that cross both barriers, and cells scaling must leave alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <optional>
#include <string>
#include <vector>

#include "feature-store-core/build.h"
#include "feature-store-core/labels.h"
#include "feature-store-core/scaling.h"

namespace ostrel::store {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kHugeHorizon = std::numeric_limits<std::uint64_t>::max();

// Candles from closes only; high and low equal the close.
std::vector<Candle> from_closes(const std::vector<double>& closes) {
  std::vector<Candle> out;
  for (double c : closes) out.push_back({0, c, c, c, c, 1});
  return out;
}

// Either both NaN or equal up to the rounding of hand-computed decimals (1.1 - 1 is not 0.1).
void expect_value(double expected, double actual, const std::string& id) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << id << ": got " << actual;
  } else if (std::isinf(expected)) {
    EXPECT_EQ(expected, actual) << id;
  } else {
    EXPECT_NEAR(expected, actual, 1e-12 * std::max(1.0, std::fabs(expected))) << id;
  }
}

struct ForwardCase {
  const char* id;
  std::vector<double> closes;
  std::size_t i;
  std::uint64_t horizon;
  bool log;
  double expected;
};

TEST(ForwardReturn, Table) {
  const std::vector<double> walk = {100, 110, 121};
  const ForwardCase cases[] = {
      {"simple h1 first", walk, 0, 1, false, 0.1},
      {"simple h1 middle", walk, 1, 1, false, 0.1},
      {"simple h1 last row has no horizon", walk, 2, 1, false, kNaN},
      {"simple h2", walk, 0, 2, false, 0.21},
      {"h2 runs past the end by one", walk, 1, 2, false, kNaN},
      {"log h1", walk, 0, 1, true, std::log(1.1)},
      {"log h1 last row", walk, 2, 1, true, kNaN},
      {"horizon wider than the series", walk, 0, 3, false, kNaN},
      {"horizon that would wrap i + h", walk, 1, kHugeHorizon, false, kNaN},
      {"row beyond the series", walk, 3, 1, false, kNaN},
      {"empty series", {}, 0, 1, false, kNaN},
      {"zero entry close", {0, 5}, 0, 1, false, kNaN},
      {"negative zero entry close", {-0.0, 5}, 0, 1, false, kNaN},
      {"zero entry close, log", {0, 5}, 0, 1, true, kNaN},
      {"NaN entry close", {kNaN, 5}, 0, 1, false, kNaN},
      {"NaN exit close", {5, kNaN}, 0, 1, true, kNaN},
      {"zero exit close is a -100% return", {5, 0}, 0, 1, false, -1.0},
      {"zero exit close has no log return", {5, 0}, 0, 1, true, kNaN},
      {"negative ratio has no log return", {5, -5}, 0, 1, true, kNaN},
      {"negative ratio, simple", {5, -5}, 0, 1, false, -2.0},
      {"negative entry close", {-4, -5}, 0, 1, true, std::log(1.25)},
  };
  for (const auto& c : cases) {
    const auto candles = from_closes(c.closes);
    expect_value(c.expected, forward_return(candles, c.i, c.horizon, c.log), c.id);
  }
}

// One look-ahead bar: close, high, low.
struct Bar {
  double close, high, low;
};

struct BarrierCase {
  const char* id;
  std::vector<Bar> bars;  // bars[0] is the entry
  std::size_t i;
  std::uint64_t horizon;
  double up, down;
  double expected;
};

TEST(TripleBarrier, Table) {
  const Bar entry{100, 100, 100};
  const BarrierCase cases[] = {
      {"low exactly on the lower barrier", {entry, {100, 101, 95}, {100, 100, 100}}, 0, 2, 0.05,
       0.05, -1},
      {"high exactly on the upper barrier", {entry, {100, 105, 96}, {100, 100, 100}}, 0, 2, 0.05,
       0.05, 1},
      {"inside both barriers", {entry, {100, 104.9, 95.1}, {100, 104.99, 95.01}}, 0, 2, 0.05,
       0.05, 0},
      {"one bar crosses both: lower wins", {entry, {100, 110, 90}}, 0, 1, 0.05, 0.05, -1},
      {"later bar touches", {entry, {100, 101, 99}, {100, 106, 99}}, 0, 2, 0.05, 0.05, 1},
      {"touch just beyond the horizon", {entry, {100, 101, 99}, {100, 106, 99}}, 0, 1, 0.05, 0.05,
       0},
      {"first touch decides", {entry, {100, 106, 99}, {100, 100, 80}}, 0, 2, 0.05, 0.05, 1},
      {"entry bar is not examined", {{100, 200, 50}, {100, 101, 99}}, 0, 1, 0.05, 0.05, 0},
      {"extremes count, closes do not", {entry, {120, 104, 96}, {80, 104, 96}}, 0, 2, 0.05, 0.05,
       0},
      {"NaN extremes do not stop the scan", {entry, {100, kNaN, kNaN}, {100, 106, 99}}, 0, 2,
       0.05, 0.05, 1},
      {"negative down puts the lower barrier above entry", {entry, {100, 112, 105}}, 0, 1, 0.2,
       -0.1, -1},
      {"negative up puts the upper barrier below entry", {entry, {100, 99, 98}}, 0, 1, -0.02,
       0.05, 1},
      {"zero entry close: barriers at zero", {{0, 0, 0}, {1, 1, 0.5}}, 0, 1, 0.05, 0.05, 1},
      {"NaN barrier never touches", {entry, {100, 200, 1}}, 0, 1, kNaN, kNaN, 0},
      {"row not at the start", {{50, 50, 50}, entry, {100, 104, 94}}, 1, 1, 0.05, 0.05, -1},
      {"horizon runs past the end", {entry, {100, 110, 90}}, 0, 2, 0.05, 0.05, kNaN},
      {"last row", {entry, {100, 110, 90}}, 1, 1, 0.05, 0.05, kNaN},
      {"horizon that would wrap i + h", {entry, {100, 110, 90}}, 1, kHugeHorizon, 0.05, 0.05,
       kNaN},
  };
  for (const auto& c : cases) {
    std::vector<Candle> candles;
    for (const Bar& b : c.bars) candles.push_back({0, b.close, b.high, b.low, b.close, 1});
    expect_value(c.expected, triple_barrier(candles, c.i, c.horizon, c.up, c.down), c.id);
  }
}

TEST(LabelValue, DispatchesOnKind) {
  const auto candles = from_closes({100, 110, 121});
  Label fwd;
  fwd.kind = Label::Kind::ForwardReturn;
  fwd.horizon = 2;
  fwd.log = true;
  EXPECT_DOUBLE_EQ(label_value(candles, 0, fwd), std::log(1.21));
  Label tb;
  tb.kind = Label::Kind::TripleBarrier;
  tb.horizon = 1;
  tb.up = 0.05;
  tb.down = 0.05;
  EXPECT_EQ(label_value(candles, 0, tb), 1.0);
  EXPECT_TRUE(std::isnan(label_value(candles, 2, tb)));
}

struct ScalingCase {
  const char* id;
  Scaling scaling;
  std::size_t columns, features;
  std::vector<double> cells;  // row-major
  std::vector<double> expected;
};

TEST(Scaling, Table) {
  const double s = std::sqrt(1.5);  // 1 / population sd of 1, 2, 3
  const ScalingCase cases[] = {
      {"z 1 2 3", Scaling::ZScore, 1, 1, {1, 2, 3}, {-s, 0, s}},
      {"z constant with NaN", Scaling::ZScore, 1, 1, {5, kNaN, 5}, {0, kNaN, 0}},
      {"z infinities neither counted nor changed", Scaling::ZScore, 1, 1, {1, kInf, 3, -kInf},
       {-1, kInf, 1, -kInf}},
      {"z all missing stays missing", Scaling::ZScore, 1, 1, {kNaN, kInf}, {kNaN, kInf}},
      {"z single finite cell", Scaling::ZScore, 1, 1, {7, kNaN}, {0, kNaN}},
      {"mm with +inf", Scaling::MinMax, 1, 1, {2, 4, kInf, 6}, {0, 0.5, kInf, 1}},
      {"mm constant", Scaling::MinMax, 1, 1, {3, 3, kNaN, 3}, {0, 0, kNaN, 0}},
      {"mm symbols share one scale", Scaling::MinMax, 1, 1, {0, 1, 99, 100}, {0, 0.01, 0.99, 1}},
      {"mm all missing", Scaling::MinMax, 1, 1, {kNaN, -kInf}, {kNaN, -kInf}},
      // Two feature columns and one label column, row-major: each column has its own statistics
      // and the label is never rescaled.
      {"z columns independent, label untouched", Scaling::ZScore, 3, 2,
       {1, 10, 0.05, 2, 10, 0.5, 3, kNaN, 7},
       {-s, 0, 0.05, 0, 0, 0.5, s, kNaN, 7}},
      {"mm columns independent, label untouched", Scaling::MinMax, 3, 2,
       {1, -4, 0.05, 2, 4, 0.5, 3, 0, 7},
       {0, 0, 0.05, 0.5, 1, 0.5, 1, 0.5, 7}},
      // Finite cells whose statistics overflow keep finite scores instead of turning NaN or 0.
      {"z sum overflows", Scaling::ZScore, 1, 1, {1e308, 1e308, -1e308, -1e308}, {1, 1, -1, -1}},
      {"z spread overflows", Scaling::ZScore, 1, 1, {1e200, kNaN, -1e200}, {1, kNaN, -1}},
      {"z huge constant", Scaling::ZScore, 1, 1, {1e308, 1e308}, {0, 0}},
      {"mm range overflows", Scaling::MinMax, 1, 1, {1e308, 0, -1e308, kInf}, {1, 0.5, 0, kInf}},
      {"no feature columns", Scaling::MinMax, 2, 0, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"no rows", Scaling::ZScore, 2, 2, {}, {}},
      {"no columns", Scaling::ZScore, 0, 0, {}, {}},
  };
  for (const auto& c : cases) {
    auto cells = c.cells;
    apply_scaling(c.scaling, cells, c.columns, c.features);
    ASSERT_EQ(cells.size(), c.expected.size()) << c.id;
    for (std::size_t k = 0; k < cells.size(); ++k)
      expect_value(c.expected[k], cells[k], std::string(c.id) + " cell " + std::to_string(k));
  }
}

// Literal per-column reference: columns one after the other, rows in table order.
void reference_scaling(Scaling scaling, std::vector<double>& cells, std::size_t cols,
                       std::size_t features) {
  const std::size_t rows = cells.size() / cols;
  for (std::size_t c = 0; c < features; ++c) {
    auto at = [&](std::size_t r) -> double& { return cells[r * cols + c]; };
    if (scaling == Scaling::ZScore) {
      double sum = 0.0, count = 0.0;
      for (std::size_t r = 0; r < rows; ++r)
        if (std::isfinite(at(r))) sum += at(r), count += 1.0;
      if (count == 0.0) continue;
      const double mean = sum / count;
      double total = 0.0;
      for (std::size_t r = 0; r < rows; ++r)
        if (std::isfinite(at(r))) total += (at(r) - mean) * (at(r) - mean);
      const double variance = total / count;
      for (std::size_t r = 0; r < rows; ++r)
        if (std::isfinite(at(r)))
          at(r) = variance == 0.0 ? 0.0 : (at(r) - mean) / std::sqrt(variance);
    } else {
      double hi = -kInf, lo = kInf;
      bool any = false;
      for (std::size_t r = 0; r < rows; ++r)
        if (std::isfinite(at(r))) {
          if (at(r) > hi) hi = at(r);
          if (at(r) < lo) lo = at(r);
          any = true;
        }
      if (!any) continue;
      const double range = hi - lo;
      for (std::size_t r = 0; r < rows; ++r)
        if (std::isfinite(at(r))) at(r) = range == 0.0 ? 0.0 : (at(r) - lo) / range;
    }
  }
}

TEST(Scaling, MatchesColumnByColumnReferenceBitForBit) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> z(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 19);
  const std::size_t cols = 7, features = 5, rows = 1000;
  std::vector<double> cells(cols * rows);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const int p = pick(rng);
    // Mostly wide-ranging finite values, with missing and infinite cells sprinkled in; column 3
    // is constant and column 4 entirely missing.
    const std::size_t c = k % cols;
    cells[k] = c == 3 ? 2.5 : c == 4 ? kNaN : p == 0 ? kNaN : p == 1 ? kInf : z(rng) * 1e3 + 50;
  }
  for (Scaling scaling : {Scaling::ZScore, Scaling::MinMax}) {
    auto fast = cells, slow = cells;
    apply_scaling(scaling, fast, cols, features);
    reference_scaling(scaling, slow, cols, features);
    for (std::size_t k = 0; k < cells.size(); ++k) {
      if (std::isnan(slow[k])) {
        ASSERT_TRUE(std::isnan(fast[k])) << k;
      } else {
        ASSERT_EQ(fast[k], slow[k]) << k;
      }
    }
  }
}

// Through the build: labels are computed from the whole series even for rows next to skipped or
// trimmed ones, scaling sees the table as it stands after filtering and trimming, and the
// label-only table keeps exactly the label columns.

Feature price(PriceField field, const char* column) {
  Feature f;
  f.kind = Feature::Kind::Price;
  f.price_field = field;
  f.column = column;
  return f;
}

Label forward(std::uint64_t h) {
  Label l;
  l.kind = Label::Kind::ForwardReturn;
  l.horizon = h;
  l.column = "fwd_return(" + std::to_string(h) + ")";
  return l;
}

Label barrier(std::uint64_t h, double up, double down) {
  Label l;
  l.kind = Label::Kind::TripleBarrier;
  l.horizon = h;
  l.up = up;
  l.down = down;
  l.column = "tb";
  return l;
}

SymbolSeries series(const std::vector<double>& closes, const std::vector<double>& volumes) {
  SymbolSeries s;
  for (std::size_t k = 0; k < closes.size(); ++k) {
    const double c = closes[k];
    s.candles.push_back({static_cast<std::int64_t>(1000 + k), c, c, c, c, volumes[k]});
  }
  return s;
}

FeatureTable build_ok(const Universe& u, const FeatureSpec& spec) {
  auto r = build_table(u, spec);
  EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().display());
  return r ? std::move(r).value() : FeatureTable{};
}

TEST(LabelsInBuild, LookPastSkippedAndTrimmedRows) {
  // Volume is missing at steps 4 and 5, so with "skip" their rows go; the window then keeps the
  // rows of steps 2 and 3, whose labels still read the closes of steps 4 and 5.
  Universe u;
  u.insert("A", series({100, 110, 121, 133.1, 146.41, 200}, {1, 1, 1, 1, kNaN, kNaN}));
  FeatureSpec spec;
  spec.universe = {"A"};
  spec.features = {price(PriceField::Volume, "price.volume")};
  spec.labels = {forward(1), forward(2), barrier(2, 0.05, 0.05)};
  spec.warmup = WarmupPolicy::Skip;
  spec.window = 2;
  const FeatureTable t = build_ok(u, spec);
  ASSERT_EQ(t.rows, 2u);
  EXPECT_EQ(t.index[0].ts, 1002);
  EXPECT_EQ(t.index[1].ts, 1003);
  const std::vector<double> expected = {1, 0.1, 0.21, 1,  //
                                        1, 0.1, 200 / 133.1 - 1, 1};
  ASSERT_EQ(t.cells.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    expect_value(expected[k], t.cells[k], "cell " + std::to_string(k));

  // Keeping every row, the last h rows have no label of horizon h.
  spec.warmup = WarmupPolicy::Nan;
  spec.window.reset();
  const FeatureTable all = build_ok(u, spec);
  ASSERT_EQ(all.rows, 6u);
  auto cell = [&](std::size_t r, std::size_t c) { return all.row(r)[c]; };
  EXPECT_FALSE(std::isnan(cell(4, 1)));
  EXPECT_TRUE(std::isnan(cell(5, 1)));
  EXPECT_FALSE(std::isnan(cell(3, 2)));
  EXPECT_TRUE(std::isnan(cell(4, 2)) && std::isnan(cell(5, 2)));
  EXPECT_TRUE(std::isnan(cell(4, 3)) && std::isnan(cell(5, 3)));
}

TEST(LabelsInBuild, ScalingSpansSymbolsAndSparesLabels) {
  Universe u;
  u.insert("B", series({200, 210}, {99, 100}));
  u.insert("A", series({100, 105}, {0, 1}));
  FeatureSpec spec;
  spec.universe = {"A", "B"};
  spec.features = {price(PriceField::Volume, "price.volume")};
  spec.labels = {forward(1)};
  spec.scaling = Scaling::MinMax;
  FeatureTable t = build_ok(u, spec);
  const std::vector<double> expected = {0, 0.05, 0.01, kNaN, 0.99, 0.05, 1, kNaN};
  ASSERT_EQ(t.cells.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    expect_value(expected[k], t.cells[k], "min_max cell " + std::to_string(k));

  // The statistics come from the rows that survive the window, not from the whole series.
  spec.window = 1;
  t = build_ok(u, spec);
  ASSERT_EQ(t.rows, 2u);
  expect_value(0, t.row(0)[0], "windowed A");
  expect_value(1, t.row(1)[0], "windowed B");

  // The label-only table is taken after the features were scaled and keeps the index.
  spec.window.reset();
  spec.scaling = Scaling::ZScore;
  const FeatureTable labels = label_table(build_ok(u, spec), spec.features.size());
  ASSERT_EQ(labels.columns, std::vector<std::string>{"fwd_return(1)"});
  ASSERT_EQ(labels.rows, 4u);
  ASSERT_EQ(labels.index.size(), 4u);
  EXPECT_EQ(labels.symbol_of(2), "B");
  const std::vector<double> only = {0.05, kNaN, 0.05, kNaN};
  ASSERT_EQ(labels.cells.size(), only.size());
  for (std::size_t k = 0; k < only.size(); ++k)
    expect_value(only[k], labels.cells[k], "label cell " + std::to_string(k));

  // Without labels: no columns, but every row is still there.
  spec.labels.clear();
  const FeatureTable none = label_table(build_ok(u, spec), spec.features.size());
  EXPECT_TRUE(none.columns.empty());
  EXPECT_EQ(none.rows, 4u);
  EXPECT_TRUE(none.cells.empty());
}

}  // namespace
}  // namespace ostrel::store
