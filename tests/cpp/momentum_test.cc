// Momentum oscillators: RsiCore against a batch recomputation, the numeric examples that pin
// down behaviour the contract test cannot see, and every construction error text.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ostrel-core/numeric/rsi_core.h"
#include "ostrel-core/registry.h"
#include "test_support.h"

namespace ostrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Values = std::vector<std::optional<double>>;

struct Trace {
  Values values;
  std::vector<std::vector<double>> extras;
};

EvaluatorPtr build(const char* name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  EXPECT_TRUE(r.has_value()) << name << ": " << (r ? "" : r.error().display());
  return r ? std::move(r).value() : nullptr;
}

std::string build_error(const char* name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  return r ? "" : r.error().display();
}

// Feeds candles (the close carries the series; open, high and low make a valid candle).
Trace run_candles(const char* name, std::vector<double> params, const std::vector<Candle>& cs) {
  Trace out;
  auto ev = build(name, std::move(params));
  if (!ev) return out;
  for (const Candle& c : cs) {
    StepContext ctx;
    ctx.candle = &c;
    auto v = ev->update(ctx);
    out.values.push_back(v);
    auto x = ev->extras();
    out.extras.emplace_back(v ? std::vector<double>(x.begin(), x.end()) : std::vector<double>{});
  }
  return out;
}

Trace run(const char* name, std::vector<double> params, const std::vector<double>& closes) {
  std::vector<Candle> cs;
  for (double c : closes) {
    const double lo = std::isfinite(c) ? c : 0.0;
    cs.push_back({0, lo, lo, lo, c, 1.0});
  }
  return run_candles(name, std::move(params), cs);
}

std::vector<double> walk_closes(std::size_t n) {
  std::vector<double> out;
  for (const auto& s : testing::random_walk(n)) out.push_back(s.candle.close);
  return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---------------------------------------------------------------------------------------------
// RsiCore against a batch recomputation written from the definition: gains and losses as whole
// arrays, the seed as a sum of the first n from -0.0, then the fused Wilder recurrence.

Values rsi_reference(const std::vector<double>& xs, std::size_t n) {
  Values out(xs.size());
  std::vector<double> gains, losses;
  for (std::size_t i = 1; i < xs.size(); ++i) {
    const double diff = xs[i] - xs[i - 1];
    gains.push_back(std::max(diff, 0.0));
    losses.push_back(diff < -diff ? -diff : 0.0);
  }
  if (gains.size() < n) return out;
  double g = -0.0, l = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    g = g + gains[i];
    l = l + losses[i];
  }
  const double nd = static_cast<double>(n);
  g = g / nd;
  l = l / nd;
  for (std::size_t i = n - 1; i < gains.size(); ++i) {
    if (i >= n) {
      g = std::fma(g, nd - 1.0, gains[i]) * (1.0 / nd);
      l = std::fma(l, nd - 1.0, losses[i]) * (1.0 / nd);
    }
    out[i + 1] = (l + g == 0) ? 50.0 : (g * 100.0) / (l + g);
  }
  return out;
}

std::vector<std::pair<const char*, std::vector<double>>> adversarial_series() {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> walk, flat, huge, tiny, alt;
  double p = 100;
  for (int i = 0; i < 300; ++i) {
    p += z(rng);
    walk.push_back(p);
    flat.push_back(i < 100 ? 5.0 : (i < 200 ? -3.25 : 5.0));
    huge.push_back((1 + 0.1 * z(rng)) * (i % 2 ? 1e300 : -1e300));
    tiny.push_back((1 + 0.1 * z(rng)) * 1e-300);
    alt.push_back((i % 2 ? -1.0 : 1.0) * (1 + i % 7));
  }
  return {{"walk", walk}, {"flat", flat}, {"huge", huge}, {"tiny", tiny}, {"alternating", alt}};
}

TEST(RsiCore, MatchesBatchRecomputationBitForBit) {
  for (const auto& [id, xs] : adversarial_series()) {
    for (std::size_t n : {1u, 2u, 14u, 50u}) {
      auto core = numeric::RsiCore::create(n);
      ASSERT_TRUE(core.has_value());
      const Values want = rsi_reference(xs, n);
      for (std::size_t i = 0; i < xs.size(); ++i) {
        const auto got = core->push(xs[i]);
        ASSERT_EQ(got.has_value(), want[i].has_value()) << id << " n=" << n << " @" << i;
        if (got) {
          ASSERT_TRUE(same_bits(*got, *want[i]) || (std::isnan(*got) && std::isnan(*want[i])))
              << id << " n=" << n << " @" << i << ": " << *got << " vs " << *want[i];
        }
      }
    }
  }
}

TEST(RsiCore, NonFiniteClosesAreSkippedByTheEvaluator) {
  std::vector<double> xs = walk_closes(200), clean;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (i % 9 == 4) xs[i] = i % 2 ? kNaN : -kInf;
    if (std::isfinite(xs[i])) clean.push_back(xs[i]);
  }
  const Trace got = run("Rsi", {14}, xs);
  const Values want = rsi_reference(clean, 14);
  std::size_t j = 0;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (!std::isfinite(xs[i])) {
      EXPECT_FALSE(got.values[i].has_value()) << i;
      continue;
    }
    ASSERT_EQ(got.values[i].has_value(), want[j].has_value()) << i;
    if (want[j]) {
      EXPECT_TRUE(same_bits(*got.values[i], *want[j])) << i;
    }
    ++j;
  }
}

// ---------------------------------------------------------------------------------------------
// Small series whose outputs can be checked by hand.

struct Example {
  const char* id;
  const char* name;
  std::vector<double> params;
  std::vector<double> closes;
  Values want;
};

constexpr std::nullopt_t none = std::nullopt;

TEST(Momentum, HandCheckedSeries) {
  const Example cases[] = {
      {"rsi flat is 50", "Rsi", {3}, {7, 7, 7, 7, 7}, {none, none, none, 50, 50}},
      {"rsi period 1 rise fall flat", "Rsi", {1}, {1, 2, 1, 1}, {none, 100, 0, 50}},
      {"roc past zero is 0", "Roc", {1}, {0, 5, 10}, {none, 0, 100}},
      {"rocp past zero is 0", "Rocp", {1}, {0, 5}, {none, 0}},
      {"rocr past zero is 0", "Rocr", {1}, {0, 5}, {none, 0}},
      {"rocr100 past zero is 0", "Rocr100", {1}, {0, 5, 10}, {none, 0, 200}},
      {"mom ignores a zero past", "Mom", {1}, {0, 5, 3}, {none, 5, -2}},
      {"rmi plain means then wilder", "Rmi", {1, 1}, {1, 2, 4, 3}, {none, 100, 100, 0}},
      {"connors rsi streak and rank", "ConnorsRsi", {1, 1, 2}, {1, 2, 3}, {none, none, 200.0 / 3}},
      {"anchored rsi only rising", "AnchoredRsi", {}, {1, 2, 3, 4}, {none, 100, 100, 100}},
      {"anchored rsi never forgets", "AnchoredRsi", {}, {1, 4, 3, 3}, {none, 100, 75, 75}},
      {"laguerre starts at 50", "LaguerreRsi", {0.5}, {10}, {50}},
      {"stoch rsi flat window",
       "StochRsi",
       {2, 3},
       {5, 5, 5, 5, 5, 5},
       {none, none, none, none, 50, 50}},
      {"tsi strictly rising", "Tsi", {2, 2}, {1, 2, 4, 7, 11}, {none, none, none, 100, 100}},
      // Once one sign has left the deviation window its sum is zero, not a rounding residue.
      {"tii sums without residue",
       "Tii",
       {3, 2},
       {0.7, 0.7, 1.3, 2.0, 1.0, 1.0, 1.0, 1.0},
       {none, none, none, 100, 60.606060606060616, 0, 0, 50}},
      {"dpo shift and mean", "Dpo", {3}, {1, 2, 3, 4}, {none, none, -1, -1}},
      {"disparity above its mean", "DisparityIndex", {2}, {1, 3}, {none, 50}},
      {"pmo first roc seeds both", "Pmo", {2, 2}, {100, 150}, {none, 500}},
      {"trix flat is 0", "Trix", {2}, {4, 4, 4, 4, 4}, {none, none, none, none, 0}},
      {"apo", "Apo", {1, 2}, {1, 3, 5}, {none, 1, 1}},
      {"ppo zero slow average", "Ppo", {1, 2}, {-1, 1, 3}, {none, 0, 50}},
  };
  for (const auto& c : cases) {
    const Trace got = run(c.name, c.params, c.closes);
    ASSERT_EQ(got.values.size(), c.want.size()) << c.id;
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      ASSERT_EQ(got.values[i].has_value(), c.want[i].has_value()) << c.id << " @" << i;
      if (c.want[i]) {
        EXPECT_DOUBLE_EQ(*got.values[i], *c.want[i]) << c.id << " @" << i;
      }
    }
  }
}

TEST(Momentum, IntradayMomentumUsesTheCandleBody) {
  // Bodies +2, -1, 0, +3 over a window of 2.
  const std::vector<Candle> cs = {
      {0, 1, 3, 1, 3, 1}, {0, 3, 3, 2, 2, 1}, {0, 2, 2, 2, 2, 1}, {0, 2, 5, 2, 5, 1}};
  const Trace got = run_candles("IntradayMomentumIndex", {2}, cs);
  ASSERT_EQ(got.values.size(), 4u);
  EXPECT_FALSE(got.values[0]);
  EXPECT_DOUBLE_EQ(*got.values[1], 200.0 / 3);
  EXPECT_DOUBLE_EQ(*got.values[2], 0.0);
  EXPECT_DOUBLE_EQ(*got.values[3], 100.0);
  // Invalid candles (high below low) are skipped without counting.
  std::vector<Candle> with_bad = cs;
  with_bad.insert(with_bad.begin() + 1, Candle{0, 1, 1, 2, 1, 1});
  const Trace skipped = run_candles("IntradayMomentumIndex", {2}, with_bad);
  EXPECT_FALSE(skipped.values[1]);
  EXPECT_DOUBLE_EQ(*skipped.values[2], 200.0 / 3);
  // Bodies +0.1, +0.2, 0, 0: the running up-sum keeps a rounding residue after both bodies left,
  // yet a window of flat bars is 50.
  const std::vector<Candle> residue = {
      {0, 0, 0.1, 0, 0.1, 1}, {0, 0, 0.2, 0, 0.2, 1}, {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 1}};
  const Trace flat = run_candles("IntradayMomentumIndex", {2}, residue);
  EXPECT_EQ(*flat.values[2], 100.0);
  EXPECT_EQ(*flat.values[3], 50.0);
}

TEST(Momentum, DynamicMomentumExtremes) {
  std::vector<double> rising, flat;
  for (int i = 0; i < 40; ++i) {
    rising.push_back(100.0 + i * i);
    flat.push_back(42.0);
  }
  const Trace up = run("DynamicMomentumIndex", {14}, rising);
  const Trace still = run("DynamicMomentumIndex", {14}, flat);
  for (std::size_t i = 0; i < 40; ++i) {
    ASSERT_EQ(up.values[i].has_value(), i >= 30) << i;
    ASSERT_EQ(still.values[i].has_value(), i >= 30) << i;
    if (i >= 30) {
      EXPECT_EQ(*up.values[i], 100.0);
      EXPECT_EQ(*still.values[i], 50.0);
    }
  }
}

// Bounded outputs stay in range on a series that swings hard, including huge magnitudes.
TEST(Momentum, BoundedOscillatorsStayInRange) {
  std::vector<double> xs;
  std::mt19937_64 rng(3);
  std::normal_distribution<double> z(0.0, 1.0);
  for (int i = 0; i < 400; ++i)
    xs.push_back((i / 50) % 2 ? 1e250 * (1 + 0.3 * z(rng)) : 10 * z(rng));
  const struct {
    const char* name;
    std::vector<double> params;
  } cases[] = {{"LaguerreRsi", {0.2}}, {"LaguerreRsi", {0.0}}, {"LaguerreRsi", {1.0}},
               {"Rsx", {5}},           {"Tii", {5, 7}},        {"Stc", {3, 8, 5, 0.5}},
               {"AdaptiveRsi", {6}},   {"FisherRsi", {4}}};
  for (const auto& c : cases) {
    const Trace got = run(c.name, c.params, xs);
    const double lo = std::string(c.name) == "FisherRsi" ? -3.81 : 0.0;
    const double hi = std::string(c.name) == "FisherRsi" ? 3.81 : 100.0;
    for (std::size_t i = 0; i < xs.size(); ++i)
      if (got.values[i] && !std::isnan(*got.values[i])) {
        EXPECT_GE(*got.values[i], lo) << c.name << " @" << i;
        EXPECT_LE(*got.values[i], hi) << c.name << " @" << i;
      }
  }
}

TEST(Momentum, MacdVariantsAgree) {
  const std::vector<double> xs = walk_closes(200);
  const Trace lines = run("MacdIndicator", {12, 26, 9}, xs);
  const Trace fix = run("MacdFix", {9}, xs);
  const Trace alias = run("Macd", {12, 26, 9}, xs);
  const Trace hist = run("MacdHistogram", {12, 26, 9}, xs);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    ASSERT_EQ(lines.values[i].has_value(), i + 1 >= 26 + 9 - 1) << i;
    ASSERT_EQ(fix.values[i], lines.values[i]) << i;
    ASSERT_EQ(alias.values[i], lines.values[i]) << i;
    ASSERT_EQ(fix.extras[i], lines.extras[i]) << i;
    if (!lines.values[i]) continue;
    ASSERT_EQ(lines.extras[i].size(), 3u);
    EXPECT_EQ(lines.extras[i][0], *lines.values[i]);
    EXPECT_EQ(lines.extras[i][2], lines.extras[i][0] - lines.extras[i][1]);
    EXPECT_EQ(*hist.values[i], lines.extras[i][2]);
  }
}

TEST(Momentum, KstWaitsForItsSignal) {
  // kst itself exists from input 4 (lookbacks 1, averages 3); the signal of 5 needs four more.
  const std::vector<double> xs = walk_closes(20);
  const Trace got = run("Kst", {1, 1, 1, 1, 3, 3, 3, 3, 5}, xs);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    ASSERT_EQ(got.values[i].has_value(), i + 1 >= 8) << i;
    if (got.values[i]) {
      ASSERT_EQ(got.extras[i].size(), 2u);
      EXPECT_EQ(got.extras[i][0], *got.values[i]);
    }
  }
}

TEST(Momentum, QqeTrailingLineFollowsTheTrend) {
  // A steady rise keeps the trend up, so the trailing line is the long band below rsi_ma.
  std::vector<double> xs;
  for (int i = 0; i < 120; ++i) xs.push_back(100.0 + i + (i % 3 == 0 ? -0.5 : 0.0));
  const Trace got = run("Qqe", {5, 3, 4.236}, xs);
  bool any = false;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    ASSERT_EQ(got.values[i].has_value(), i + 1 >= 5 * 5 + 3 - 3) << i;
    if (!got.values[i]) continue;
    any = true;
    EXPECT_EQ(got.extras[i][0], *got.values[i]);
    EXPECT_LE(got.extras[i][1], got.extras[i][0]) << i;
  }
  EXPECT_TRUE(any);
}

// ---------------------------------------------------------------------------------------------
// Construction errors, in the order the checks run.

TEST(Momentum, ConstructionErrors) {
  const std::string pre = "invalid parameters for indicator ";
  const std::string too_long =
      "invalid period: period exceeds the maximum supported window length (see MAX_PERIOD)";
  const std::string zero = "period must be greater than zero";
  const struct {
    const char* name;
    std::vector<double> params;
    std::string want;  // after "invalid parameters for indicator {canonical}: "
    const char* canonical;
  } cases[] = {
      {"Macd",
       {26, 12, 9},
       "invalid period: fast period must be strictly less than slow period",
       "MacdIndicator"},
      {"MacdIndicator",
       {12, 12, 9},
       "invalid period: fast period must be strictly less than slow period",
       nullptr},
      // The order check runs before the maximum checks, the zero checks before both.
      {"MacdIndicator",
       {16777218, 16777217, 9},
       "invalid period: fast period must be strictly less than slow period",
       nullptr},
      {"MacdIndicator", {12, 16777217, 9}, too_long, nullptr},
      {"MacdIndicator", {26, 12, 1e-300}, zero, nullptr},
      {"MacdHistogram",
       {3, 2, 1},
       "invalid period: fast period must be strictly less than slow period",
       nullptr},
      {"VolumeWeightedMacd",
       {3, 2, 1},
       "invalid period: fast period must be strictly less than slow period",
       nullptr},
      {"MacdFix", {1e-300}, zero, nullptr},
      {"MacdFix", {16777217}, too_long, nullptr},
      {"ZeroLagMacd",
       {26, 26, 9},
       "invalid period: ZeroLagMACD fast period must be strictly less than slow",
       nullptr},
      {"Apo", {5, 2}, "invalid period: APO fast period must be strictly less than slow", nullptr},
      {"Ppo", {12, 12}, "invalid period: PPO fast period must be < slow period", nullptr},
      {"PpoHistogram",
       {13, 12, 9},
       "invalid period: PPO fast period must be < slow period",
       nullptr},
      {"Pmo", {1, 10}, "invalid period: PMO smoothing periods must be >= 2", nullptr},
      {"Pmo", {10, 1}, "invalid period: PMO smoothing periods must be >= 2", nullptr},
      {"Pmo", {1, 1e-300}, zero, nullptr},
      {"Stc",
       {50, 23, 10, 0.5},
       "invalid period: STC fast period must be strictly less than slow",
       nullptr},
      {"Stc",
       {23, 50, 10, 0},
       "invalid period: STC factor must be a finite value in (0, 1]",
       nullptr},
      {"Stc",
       {23, 50, 10, 1.5},
       "invalid period: STC factor must be a finite value in (0, 1]",
       nullptr},
      {"Stc", {23, 50, 16777217, 1}, too_long, nullptr},
      {"Qqe", {14, 5, 0}, "invalid period: QQE factor must be a finite positive value", nullptr},
      {"Qqe", {14, 5, -1}, "invalid period: QQE factor must be a finite positive value", nullptr},
      {"Qqe", {14, 16777217, 1}, too_long, nullptr},
      // 2a - 1 = 16777217 is one past the limit.
      {"Qqe", {8388609, 5, 1}, too_long, nullptr},
      {"Qqe", {1e300, 5, 1}, too_long, nullptr},
      {"LaguerreRsi",
       {-0.1},
       "invalid period: LaguerreRSI gamma must be a finite value in [0, 1]",
       nullptr},
      {"LaguerreRsi",
       {1.5},
       "invalid period: LaguerreRSI gamma must be a finite value in [0, 1]",
       nullptr},
      {"Rsi", {1e-300}, zero, nullptr},
      {"Rsi", {16777217}, too_long, nullptr},
      {"Kst", {10, 15, 20, 1e300, 10, 10, 10, 15, 1e-300}, zero, nullptr},
      // Windows without a stated limit are held to the engine's window limit.
      {"Rmi", {16777217, 5}, too_long, nullptr},
      {"Rmi", {14, 16777217}, too_long, nullptr},
      {"ConnorsRsi", {3, 2, 16777217}, too_long, nullptr},
      {"StochRsi", {14, 16777217}, too_long, nullptr},
      {"Tii", {60, 16777217}, too_long, nullptr},
  };
  for (const auto& c : cases) {
    const std::string canonical = c.canonical ? c.canonical : c.name;
    EXPECT_EQ(build_error(c.name, c.params), pre + canonical + ": " + c.want)
        << c.name << " " << ::testing::PrintToString(c.params);
  }
}

TEST(Momentum, LongestWindowsAreAcceptedAndCheap) {
  const struct {
    const char* name;
    std::vector<double> params;
  } cases[] = {{"Rmi", {16777216, 16777216}},
               {"ConnorsRsi", {3, 2, 16777216}},
               {"StochRsi", {16777216, 16777216}},
               {"Tii", {16777216, 16777216}},
               {"Stc", {1, 16777216, 16777216, 1}},
               {"Qqe", {8388608, 16777216, 1}},
               {"Dpo", {16777216}},
               {"Kst", {16777216, 1, 1, 1, 1, 1, 1, 1, 1}}};
  const std::vector<double> xs = walk_closes(50);
  for (const auto& c : cases) {
    auto ev = build(c.name, c.params);
    ASSERT_TRUE(ev) << c.name;
    EXPECT_GE(ev->warmup_period(), 16777216u) << c.name;
    const Trace got = run(c.name, c.params, xs);
    for (const auto& v : got.values) EXPECT_FALSE(v.has_value()) << c.name;
  }
}

}  // namespace
}  // namespace ostrel
