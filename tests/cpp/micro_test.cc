// Order-book, trade-flow and breadth members: hand-checked values, construction errors, and each
// windowed member against a plain recomputation over random and adversarial trade streams.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ostrel-core/numeric/rolling_comoments.h"
#include "ostrel-core/registry.h"

namespace ostrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
using Opt = std::optional<double>;

EvaluatorPtr build(const char* name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  EXPECT_TRUE(r) << name << ": " << (r ? "" : r.error().display());
  return r ? std::move(r).value() : nullptr;
}

std::string build_error(const char* name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  return r ? "" : r.error().display();
}

// One step's feeds; absent book or cross-section when unset.
struct Feed {
  std::optional<OrderBook> book;
  std::vector<TradePrint> trades;
  double close = 100;
  std::optional<CrossSection> section;
  Candle candle;

  StepContext ctx() {
    candle = {0, close, close, close, close, 1};
    StepContext c;
    c.candle = &candle;
    c.trades = trades;
    c.book = book ? &*book : nullptr;
    c.cross_section = section ? &*section : nullptr;
    return c;
  }
};

TradePrint buy(double price, double size) { return {price, size, Side::Buy, 0}; }
TradePrint sell(double price, double size) { return {price, size, Side::Sell, 0}; }

// Book with one level each side around `mid`, spread 2 (bid mid-1, ask mid+1).
OrderBook top(double mid, double bid_size = 1, double ask_size = 1) {
  return {{{mid - 1, bid_size}}, {{mid + 1, ask_size}}};
}

bool close_enough(double a, double b, double rel = 1e-9) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::fabs(a - b) <= rel * std::max({1.0, std::fabs(a), std::fabs(b)});
}

void expect_same(Opt got, Opt want, const std::string& where, double rel = 1e-9) {
  ASSERT_EQ(got.has_value(), want.has_value()) << where;
  if (got) {
    EXPECT_TRUE(close_enough(*got, *want, rel)) << where << ": got " << *got << " want " << *want;
  }
}

// ----------------------------------------------------------------------------------------------
// Construction

TEST(Micro, ConstructionErrors) {
  const std::string too_large =
      "invalid period: period exceeds the maximum supported window length (see MAX_PERIOD)";
  const std::string zero = "period must be greater than zero";
  struct Case {
    const char* name;
    std::vector<double> params;
    std::string want;  // after "invalid parameters for indicator {name}: "; empty = builds
  } cases[] = {
      {"KylesLambda", {1}, "invalid period: kyle's lambda needs window >= 2"},
      {"KylesLambda", {1e-300}, "invalid period: kyle's lambda needs window >= 2"},
      {"KylesLambda", {16777217}, too_large},
      {"RollMeasure", {2}, "invalid period: Roll measure needs period >= 3"},
      {"RollMeasure", {16777217}, too_large},
      {"TradeSignAutocorrelation", {1},
       "invalid period: trade-sign autocorrelation needs period >= 2"},
      {"TradeSignAutocorrelation", {16777217}, too_large},
      {"Vpin", {0, 5}, "invalid parameter: VPIN bucket_volume must be finite and positive"},
      {"Vpin", {-1, 5}, "invalid parameter: VPIN bucket_volume must be finite and positive"},
      {"Vpin", {1, 1e-300}, zero},
      {"Vpin", {1, 16777217}, too_large},
      {"Vpin", {1e-300, 16777216}, ""},
      {"TradeImbalance", {1e-300}, zero},
      {"TradeImbalance", {16777217}, too_large},
      {"Pin", {1e-300}, zero},
      {"Pin", {16777217}, too_large},
      {"AmihudIlliquidity", {1e-300}, zero},
      {"AmihudIlliquidity", {16777217}, too_large},
      {"OrderFlowImbalance", {1e-300}, zero},
      {"OrderFlowImbalance", {16777217}, too_large},
      {"OrderFlowImbalance", {16777216}, ""},
      {"RealizedSpread", {1e-300}, zero},
      {"RealizedSpread", {16777217}, too_large},
      {"OrderBookImbalanceTopN", {1e-300}, zero},
      {"OrderBookImbalanceTopN", {1e12}, ""},  // a level count, not a window
      {"HighLowIndex", {1e-300}, zero},
      {"HighLowIndex", {16777217}, too_large},
      {"BreadthThrust", {1e-300}, zero},
      {"BreadthThrust", {16777216}, ""},
  };
  for (const auto& c : cases) {
    const std::string want =
        c.want.empty() ? ""
                       : "invalid parameters for indicator " + std::string(c.name) + ": " + c.want;
    EXPECT_EQ(build_error(c.name, c.params), want) << c.name << " " << c.params.back();
  }
}

// ----------------------------------------------------------------------------------------------
// Book members

TEST(Micro, BookSnapshots) {
  // Mid 100. Bid side: distances 1, 2, cumulative sizes 2, 6 -> slope 4. Ask side: distances
  // 1, 3, cumulative sizes 1, 4 -> slope 1.5.
  const OrderBook two_level{{{99, 2}, {98, 4}}, {{101, 1}, {103, 3}}};
  const OrderBook empty_sizes{{{99, 0}}, {{101, 0}}};
  const OrderBook no_asks{{{99, 2}}, {}};
  const OrderBook one_level{{{99, 2}, {98, 4}}, {{101, 1}}};
  // pb * qa overflows; the size sum overflows.
  const OrderBook huge_prices{{{1e308, 3}}, {{1.5e308, 1}}};
  const OrderBook huge_sizes{{{99, 1.5e308}}, {{101, 1.5e308}}};
  struct Case {
    const char* id;
    const char* name;
    std::vector<double> params;
    OrderBook book;
    double want;
  } cases[] = {
      {"top1", "OrderBookImbalanceTop1", {}, two_level, 1.0 / 3},
      {"top1 zero sizes", "OrderBookImbalanceTop1", {}, empty_sizes, 0},
      {"top1 one side", "OrderBookImbalanceTop1", {}, no_asks, 0},
      {"topN 1 level", "OrderBookImbalanceTopN", {1}, two_level, 1.0 / 3},
      {"topN beyond depth", "OrderBookImbalanceTopN", {5}, two_level, 0.2},
      {"topN zero sizes", "OrderBookImbalanceTopN", {5}, empty_sizes, 0},
      {"topN one side", "OrderBookImbalanceTopN", {5}, no_asks, 1},
      {"full", "OrderBookImbalanceFull", {}, two_level, 0.2},
      {"microprice", "Microprice", {}, two_level, (99.0 * 1 + 101.0 * 2) / 3},
      {"microprice zero sizes is mid", "Microprice", {}, empty_sizes, 100},
      {"microprice one side", "Microprice", {}, no_asks, 0},
      {"microprice of prices near the double range", "Microprice", {}, huge_prices, 1.375e308},
      {"microprice of overflowing sizes", "Microprice", {}, huge_sizes, 100},
      {"quoted spread bp", "QuotedSpread", {}, two_level, 200},
      {"quoted spread one side", "QuotedSpread", {}, no_asks, 0},
      {"depth slope", "DepthSlope", {}, two_level, 2.75},
      {"depth slope single level", "DepthSlope", {}, one_level, 0},
      {"depth slope one side", "DepthSlope", {}, no_asks, 0},
  };
  for (auto& c : cases) {
    auto ev = build(c.name, c.params);
    ASSERT_TRUE(ev);
    Feed f;
    f.book = c.book;
    auto v = ev->update(f.ctx());
    ASSERT_TRUE(v.has_value()) << c.id;
    EXPECT_DOUBLE_EQ(*v, c.want) << c.id;
    Feed none;  // no book: no value
    EXPECT_FALSE(ev->update(none.ctx()).has_value()) << c.id;
  }
}

TEST(Micro, DepthSlopeMidpointSurvivesHugeSlopes) {
  // Levels 2^-30 apart around a mid of 1 with sizes of 1e299: each side's slope is
  // 1e299 * 2^30 (about 1.07e308), so the plain (a + b) * 0.5 would overflow.
  const double d = std::ldexp(1.0, -30);
  auto ev = build("DepthSlope", {});
  Feed f;
  f.book = OrderBook{{{1 - d, 1e299}, {1 - 2 * d, 1e299}}, {{1 + d, 1e299}, {1 + 2 * d, 1e299}}};
  auto v = ev->update(f.ctx());
  ASSERT_TRUE(v);
  EXPECT_TRUE(close_enough(*v, 1e299 / d, 1e-12)) << *v;
}

TEST(Micro, DepthSlopeOfBooksNearTheDoubleRange) {
  // The two-level book of BookSnapshots (slopes 4 and 1.5) with prices scaled by 1e298, where
  // the squared distances overflow, and with sizes whose cumulative sum overflows.
  const struct {
    const char* id;
    OrderBook book;
    double want;
  } cases[] = {
      {"prices near 1e300", {{{99e298, 2}, {98e298, 4}}, {{101e298, 1}, {103e298, 3}}}, 2.75e-298},
      {"sizes summing past the range",
       {{{99, 6e307}, {98, 1.2e308}}, {{101, 3e307}, {103, 9e307}}},
       (1.2e308 + 4.5e307) / 2},
      // Distances 1 and 2 with cumulative sizes 1e308 and 1.5e308: only the products overflow.
      {"products past the range", {{{99, 1e308}, {98, 5e307}}, {{101, 1}, {102, 1}}},
       (5e307 + 1) / 2},
  };
  for (const auto& c : cases) {
    auto ev = build("DepthSlope", {});
    Feed f;
    f.book = c.book;
    auto v = ev->update(f.ctx());
    ASSERT_TRUE(v) << c.id;
    EXPECT_TRUE(close_enough(*v, c.want, 1e-12)) << c.id << ": " << *v;
  }
}

TEST(Micro, OrderFlowImbalanceSequence) {
  // period 1: each value is the step's own e.
  struct Step {
    const char* id;
    std::optional<OrderBook> book;
    Opt want;
  } steps[] = {
      {"first book stores only", OrderBook{{{99, 5}}, {{101, 7}}}, std::nullopt},
      {"equal prices: (qb - qb') - (qa - qa')", OrderBook{{{99, 8}}, {{101, 4}}},
       (8 - 5) - (4 - 7)},
      {"no book keeps previous levels", std::nullopt, std::nullopt},
      {"one-sided book is skipped", OrderBook{{{99.5, 1}}, {}}, std::nullopt},
      {"bid up: qb; ask down: -qa", OrderBook{{{99.5, 2}}, {{100.5, 3}}}, 2 - 3},
      {"bid down: -qb'; ask up: +qa'", OrderBook{{{99, 6}}, {{101, 9}}}, -2 + 3},
  };
  auto ev = build("OrderFlowImbalance", {1});
  auto ev2 = build("OrderFlowImbalance", {2});
  std::vector<double> es;
  for (auto& s : steps) {
    Feed f;
    f.book = s.book;
    auto v = ev->update(f.ctx());
    expect_same(v, s.want, s.id);
    auto v2 = ev2->update(f.ctx());
    if (s.want) es.push_back(*s.want);
    // period 2 sums the last two e values once two exist.
    expect_same(v2, es.size() >= 2 && s.want ? Opt(es[es.size() - 1] + es[es.size() - 2]) : Opt(),
                std::string("period 2: ") + s.id);
  }
}

TEST(Micro, OrderFlowImbalanceMatchesPlainSums) {
  // Random best levels on a coarse price grid (so equal prices are common), with missing and
  // one-sided books mixed in; the window sum is compared with a plain sum of the last e values.
  std::mt19937_64 rng(17);
  std::uniform_int_distribution<int> tick(-2, 2), kind(0, 9);
  std::uniform_real_distribution<double> size(0, 50);
  for (std::size_t n : {1, 4, 13}) {
    auto ev = build("OrderFlowImbalance", {double(n)});
    std::vector<double> es;
    std::optional<Level> pb, pa;
    double bid = 99, ask = 101;
    for (int i = 0; i < 600; ++i) {
      Feed f;
      const int k = kind(rng);
      bid += tick(rng);
      ask = std::max(bid + 1, ask + tick(rng));
      const Level b{bid, size(rng)}, a{ask, size(rng)};
      Opt want;
      if (k == 0) {
        // no book
      } else if (k == 1) {
        f.book = OrderBook{{b}, {}};
      } else {
        f.book = OrderBook{{b, {bid - 1, 1}}, {a, {ask + 1, 1}}};
        if (pb) {
          const double e = (b.size * (b.price >= pb->price) - pb->size * (b.price <= pb->price)) -
                           (a.size * (a.price <= pa->price) - pa->size * (a.price >= pa->price));
          es.push_back(e);
          if (es.size() >= n) {
            double sum = 0;
            for (std::size_t j = es.size() - n; j < es.size(); ++j) sum += es[j];
            want = sum;
          }
        }
        pb = b;
        pa = a;
      }
      expect_same(ev->update(f.ctx()), want, "n=" + std::to_string(n) + " @" + std::to_string(i));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Trades against the reference mid

TEST(Micro, EffectiveSpreadReferenceMid) {
  auto ev = build("EffectiveSpread", {});
  struct Case {
    const char* id;
    std::optional<OrderBook> book;
    double close;
    std::vector<TradePrint> trades;
    Opt want;
  } cases[] = {
      {"book mid, last trade only", top(100), 1, {sell(99, 1), buy(100.5, 1)}, 100.0},
      {"sell below mid is positive", top(100), 1, {sell(99.5, 1)}, 100.0},
      {"no book: candle close", std::nullopt, 200, {buy(201, 1)}, 100.0},
      {"one-sided book: candle close", OrderBook{{{99, 1}}, {}}, 200, {buy(201, 1)}, 100.0},
      {"close 0 and no book: nothing", std::nullopt, 0, {buy(1, 1)}, std::nullopt},
      {"empty trade list: nothing", top(100), 100, {}, std::nullopt},
  };
  for (auto& c : cases) {
    Feed f;
    f.book = c.book;
    f.close = c.close;
    f.trades = c.trades;
    expect_same(ev->update(f.ctx()), c.want, c.id);
  }
}

TEST(Micro, RealizedSpreadUsesMidOfRealisingStep) {
  auto ev = build("RealizedSpread", {1});
  Feed a;
  a.book = top(100);
  a.trades = {buy(100.5, 1)};
  EXPECT_FALSE(ev->update(a.ctx()));  // one trade: nothing realised yet
  Feed bad;                           // unusable mid: nothing, and nothing changes
  bad.close = 0;
  bad.trades = {buy(5, 1), buy(6, 1)};
  EXPECT_FALSE(ev->update(bad.ctx()));
  Feed b;
  b.book = top(101);
  b.trades = {sell(100.8, 1)};
  expect_same(ev->update(b.ctx()), 2.0 * (100.5 - 101) / 100 * 10000, "second step");
  Feed c;
  c.book = top(102);
  c.trades = {buy(101, 1), buy(103, 1)};
  // The first trade realises the sell (mid 101 at entry); the step reports the last trade's,
  // which realises the buy at 101 entered in this very step.
  expect_same(ev->update(c.ctx()), 2.0 * (101.0 - 102) / 102 * 10000, "third step");
}

// Plain Kyle's lambda: regression over the last N (signed size, mid change) pairs recomputed
// from scratch.
class NaiveKyle {
 public:
  explicit NaiveKyle(std::size_t n) : n_(n) {}
  // `usable` is false when the step has no usable reference mid.
  Opt step(const std::vector<TradePrint>& trades, double mid, bool usable) {
    if (trades.empty() || !usable) return std::nullopt;
    Opt out;
    for (const auto& t : trades) {
      if (!has_prev_) {
        prev_ = mid;
        has_prev_ = true;
        out.reset();
        continue;
      }
      xs_.push_back((t.side == Side::Buy ? 1.0 : -1.0) * t.size);
      ys_.push_back(mid - prev_);
      prev_ = mid;
      if (xs_.size() < n_) {
        out.reset();
        continue;
      }
      double mx = 0, my = 0;
      for (std::size_t i = xs_.size() - n_; i < xs_.size(); ++i) mx += xs_[i], my += ys_[i];
      mx /= n_, my /= n_;
      double vxx = 0, vxy = 0;
      for (std::size_t i = xs_.size() - n_; i < xs_.size(); ++i) {
        vxx += (xs_[i] - mx) * (xs_[i] - mx);
        vxy += (xs_[i] - mx) * (ys_[i] - my);
      }
      out = vxx != 0 ? vxy / vxx : 0.0;
    }
    return out;
  }

 private:
  std::size_t n_;
  double prev_ = 0;
  bool has_prev_ = false;
  std::vector<double> xs_, ys_;
};

TEST(Micro, KylesLambdaThreeTradesOneStep) {
  // Window 2 over three trades of one step after a seeding step: pairs (2, 1), (-1, 0), (3, 0).
  auto ev = build("KylesLambda", {2});
  Feed a;
  a.book = top(100);
  a.trades = {buy(100, 1)};
  EXPECT_FALSE(ev->update(a.ctx()));
  Feed b;
  b.book = top(101);
  b.trades = {buy(101, 2), sell(101, 1), buy(101, 3)};
  // Last two pairs (-1, 0), (3, 0): no mid change inside the step, slope 0.
  expect_same(ev->update(b.ctx()), 0.0, "only first trade carries the move");
  auto ev2 = build("KylesLambda", {3});
  (void)ev2->update(a.ctx());
  // Pairs (2, 1), (-1, 0), (3, 0): mean x 4/3, mean y 1/3, var x 26/9, cov 2/9 -> 1/13.
  expect_same(ev2->update(b.ctx()), 1.0 / 13, "window 3");
}

// ----------------------------------------------------------------------------------------------
// Trade-only members against plain recomputations

struct Trade {
  double sign, size, price;
};

// Per-trade plain models; each returns the trade's result.
struct NaiveTradeModels {
  std::vector<Trade> all;
  std::vector<double> amihud_samples;
  Opt amihud_last;
  Opt amihud_prev;

  static std::span<const Trade> last(const std::vector<Trade>& v, std::size_t n) {
    return std::span<const Trade>(v).last(n);
  }
  Opt trade_imbalance(std::size_t n) const {
    if (all.size() < n) return std::nullopt;
    double b = 0, s = 0;
    for (const auto& t : last(all, n)) (t.sign > 0 ? b : s) += t.size;
    return b + s <= 0 ? 0.0 : (b - s) / (b + s);
  }
  Opt sign_autocorrelation(std::size_t n) const {
    if (all.size() < n) return std::nullopt;
    auto w = last(all, n);
    double acc = 0;
    for (std::size_t i = 1; i < n; ++i) acc += w[i].sign * w[i - 1].sign;
    return acc / static_cast<double>(n - 1);
  }
  Opt pin(std::size_t n) const {
    if (all.size() < n) return std::nullopt;
    double b = 0;
    for (const auto& t : last(all, n)) b += t.sign > 0;
    return std::fabs(b - (static_cast<double>(n) - b)) / static_cast<double>(n);
  }
  Opt roll(std::size_t n) const {
    if (all.size() < n + 1) return std::nullopt;
    auto w = last(all, n + 1);
    std::vector<double> d;
    for (std::size_t i = 1; i < w.size(); ++i) d.push_back(w[i].price - w[i - 1].price);
    double mu = 0;
    for (double x : d) mu += x;
    mu /= static_cast<double>(n);
    double cov = 0;
    for (std::size_t i = 1; i < n; ++i) cov += (d[i] - mu) * (d[i - 1] - mu);
    cov /= static_cast<double>(n - 1);
    return cov < 0 ? 2 * std::sqrt(-cov) : 0.0;
  }
  // Amihud keeps its own notion of "trades seen": size-0 prints are ignored entirely.
  Opt amihud(const Trade& t, std::size_t n) {
    if (t.size == 0) return amihud_last;
    if (!amihud_prev) {
      amihud_prev = t.price;
      return std::nullopt;
    }
    amihud_samples.push_back(std::fabs(std::log(t.price / *amihud_prev)) / (t.price * t.size));
    amihud_prev = t.price;
    if (amihud_samples.size() < n) return std::nullopt;
    double s = 0;
    for (std::size_t i = amihud_samples.size() - n; i < amihud_samples.size(); ++i)
      s += amihud_samples[i];
    amihud_last = s / static_cast<double>(n);
    return amihud_last;
  }
};

// Random steps of 0..4 trades; `scale` moves prices and sizes to extreme magnitudes, `bounce`
// alternates prices around a level, and a share of sizes is exactly 0.
std::vector<std::vector<TradePrint>> random_trades(std::size_t steps, std::uint64_t seed,
                                                   double scale, bool bounce) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<std::vector<TradePrint>> out(steps);
  double level = 100;
  bool up = false;
  for (auto& s : out) {
    const int k = static_cast<int>(u(rng) * 5);
    for (int i = 0; i < k; ++i) {
      level *= std::exp(0.002 * (u(rng) - 0.5));
      up = !up;
      const double price = bounce ? level + (up ? 0.05 : -0.05) : level * (1 + 0.001 * u(rng));
      const double size = u(rng) < 0.1 ? 0.0 : 0.01 + 3 * u(rng);
      s.push_back({price * scale, size * scale, u(rng) < 0.5 ? Side::Buy : Side::Sell, 0});
    }
  }
  return out;
}

TEST(Micro, TradeWindowsMatchPlainRecomputation) {
  struct Series {
    const char* id;
    double scale;
    bool bounce;
  } series[] = {{"random walk", 1, false},
                {"bid-ask bounce", 1, true},
                {"tiny magnitudes", 1e-150, false},
                {"huge magnitudes", 1e150, true}};
  for (const auto& sr : series) {
    for (std::size_t n : {3, 7, 20}) {
      auto trades = random_trades(400, 7 + n, sr.scale, sr.bounce);
      auto ti = build("TradeImbalance", {double(n)});
      auto tsa = build("TradeSignAutocorrelation", {double(n)});
      auto pin = build("Pin", {double(n)});
      auto roll = build("RollMeasure", {double(n)});
      auto ami = build("AmihudIlliquidity", {double(n)});
      auto sv = build("SignedVolume", {});
      auto cvd = build("CumulativeVolumeDelta", {});
      NaiveTradeModels m;
      double cum = 0;
      for (std::size_t i = 0; i < trades.size(); ++i) {
        Feed f;
        f.trades = trades[i];
        const auto ctx = f.ctx();
        Opt w_ti, w_tsa, w_pin, w_roll, w_ami, w_sv, w_cvd;
        for (const auto& t : trades[i]) {
          const Trade tr{t.side == Side::Buy ? 1.0 : -1.0, t.size, t.price};
          m.all.push_back(tr);
          w_ti = m.trade_imbalance(n);
          w_tsa = m.sign_autocorrelation(n);
          w_pin = m.pin(n);
          w_roll = m.roll(n);
          w_ami = m.amihud(tr, n);
          w_sv = tr.sign * tr.size;
          cum += tr.sign * tr.size;
          w_cvd = cum;
        }
        const std::string at = std::string(sr.id) + " n=" + std::to_string(n) + " step " +
                               std::to_string(i);
        expect_same(ti->update(ctx), w_ti, "TradeImbalance " + at);
        expect_same(tsa->update(ctx), w_tsa, "TradeSignAutocorrelation " + at);
        expect_same(pin->update(ctx), w_pin, "Pin " + at);
        expect_same(roll->update(ctx), w_roll, "RollMeasure " + at, 1e-6);
        expect_same(ami->update(ctx), w_ami, "AmihudIlliquidity " + at);
        expect_same(sv->update(ctx), w_sv, "SignedVolume " + at);
        expect_same(cvd->update(ctx), w_cvd, "CumulativeVolumeDelta " + at);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST(Micro, KylesLambdaMatchesPlainRegression) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::size_t n : {2, 5, 16}) {
    auto ev = build("KylesLambda", {double(n)});
    NaiveKyle naive(n);
    auto trades = random_trades(500, 11 + n, 1, false);
    double mid = 100;
    for (std::size_t i = 0; i < trades.size(); ++i) {
      mid *= std::exp(0.01 * (u(rng) - 0.5));
      Feed f;
      f.trades = trades[i];
      const double r = u(rng);
      bool usable = true;
      if (r < 0.15) {
        f.close = mid;  // no book: the close stands in
      } else if (r < 0.2) {
        f.close = 0;  // no usable mid: the step is skipped
        usable = false;
      } else {
        f.book = top(mid);
      }
      expect_same(ev->update(f.ctx()), naive.step(trades[i], mid, usable),
                  "n=" + std::to_string(n) + " step " + std::to_string(i), 1e-7);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(Micro, RollingCoMomentsAgainstPlainStatistics) {
  // Offsets far from zero exercise the anchor; alternating signs and flat runs the updates.
  std::mt19937_64 rng(5);
  std::normal_distribution<double> z(0, 1);
  for (double offset : {0.0, 1e6, -1e9}) {
    const std::size_t n = 9;
    numeric::RollingCoMoments m(n);
    std::vector<double> us, vs;
    for (int i = 0; i < 300; ++i) {
      const double u = i % 50 < 10 ? offset : offset + (i % 2 ? 1 : -1) * std::fabs(z(rng));
      const double v = 2 * u + z(rng);
      m.push(u, v);
      us.push_back(u);
      vs.push_back(v);
      if (us.size() < n) {
        EXPECT_FALSE(m.full());
        continue;
      }
      double mu = 0, mv = 0;
      for (std::size_t k = us.size() - n; k < us.size(); ++k) mu += us[k], mv += vs[k];
      mu /= n, mv /= n;
      double vu = 0, vv = 0, c = 0;
      for (std::size_t k = us.size() - n; k < us.size(); ++k) {
        vu += (us[k] - mu) * (us[k] - mu);
        vv += (vs[k] - mv) * (vs[k] - mv);
        c += (us[k] - mu) * (vs[k] - mv);
      }
      const double tol = 1e-6;
      ASSERT_TRUE(m.full());
      EXPECT_TRUE(close_enough(m.mean_u(), mu, 1e-12)) << offset << " @" << i;
      EXPECT_TRUE(close_enough(m.mean_v(), mv, 1e-12)) << offset << " @" << i;
      EXPECT_NEAR(m.var_u(), vu / n, tol) << offset << " @" << i;
      EXPECT_NEAR(m.var_v(), vv / n, tol) << offset << " @" << i;
      EXPECT_NEAR(m.cov(), c / n, tol) << offset << " @" << i;
    }
  }
}

TEST(Micro, TradeEdgeCases) {
  auto run = [](const char* name, std::vector<double> params,
                std::vector<std::vector<TradePrint>> steps) {
    auto ev = build(name, params);
    Opt last;
    for (auto& s : steps) {
      Feed f;
      f.trades = s;
      last = ev->update(f.ctx());
    }
    return last;
  };
  struct Case {
    const char* id;
    Opt got, want;
  } cases[] = {
      {"sign autocorrelation (+1, -1)",
       run("TradeSignAutocorrelation", {2}, {{buy(1, 1), sell(1, 1)}}), -1.0},
      {"pin buy buy sell buy", run("Pin", {4}, {{buy(1, 1), buy(1, 1)}, {sell(1, 1), buy(1, 1)}}),
       0.5},
      {"roll on a steady trend is 0",
       run("RollMeasure", {3}, {{buy(1, 1), buy(2, 1), buy(3, 1), buy(4, 1), buy(5, 1)}}), 0.0},
      // Changes +1, -1, +1: mean 1/3, autocovariance -8/9 -> 2 * sqrt(8/9).
      {"roll on bounce", run("RollMeasure", {3}, {{buy(1, 1), buy(2, 1), buy(1, 1), buy(2, 1)}}),
       2 * std::sqrt(8.0 / 9)},
      {"amihud size 0 before a value: nothing",
       run("AmihudIlliquidity", {1}, {{buy(100, 1)}, {buy(110, 0)}}), std::nullopt},
      {"amihud size 0 repeats the last value",
       run("AmihudIlliquidity", {1}, {{buy(100, 1)}, {buy(110, 2)}, {sell(1, 0)}}),
       std::log(1.1) / 220},
      // The price ratio 1e-300 / 1e300 underflows to 0; ln would give -inf.
      {"amihud log return of prices beyond the ratio range",
       run("AmihudIlliquidity", {1}, {{buy(1e300, 1)}, {buy(1e-300, 1e300)}}),
       600 * std::log(10.0)},
      // 1e-300 * 1e-30 underflows to 0.
      {"amihud unchanged price with a traded value below the double range",
       run("AmihudIlliquidity", {1}, {{buy(1e-300, 1)}, {buy(1e-300, 1e-30)}}), 0.0},
      {"trade imbalance all sells", run("TradeImbalance", {2}, {{sell(1, 1)}, {sell(1, 2)}}), -1.0},
      {"trade imbalance zero volume", run("TradeImbalance", {2}, {{sell(1, 0), buy(1, 0)}}), 0.0},
      {"empty step yields nothing", run("CumulativeVolumeDelta", {}, {{buy(1, 2)}, {}}),
       std::nullopt},
      {"signed volume of a sell", run("SignedVolume", {}, {{buy(1, 5), sell(1, 2)}}), -2.0},
      {"vpin one buy of 25 fills two buckets", run("Vpin", {10, 2}, {{buy(1, 25)}}), 1.0},
      {"vpin balanced buckets",
       run("Vpin", {10, 2}, {{buy(1, 5), sell(1, 5), buy(1, 5)}, {sell(1, 5)}}), 0.0},
      {"vpin not enough buckets", run("Vpin", {10, 3}, {{buy(1, 25)}}), std::nullopt},
  };
  for (auto& c : cases) expect_same(c.got, c.want, c.id);
}

// Plain bucket filling without any shortcut, for sizes small enough to loop over.
class NaiveVpin {
 public:
  NaiveVpin(double v, std::size_t n) : v_(v), n_(n) {}
  Opt step(const std::vector<TradePrint>& trades) {
    if (trades.empty()) return std::nullopt;
    for (const auto& t : trades) {
      double rem = t.size;
      while (rem > 0) {
        const double take = std::min(rem, v_ - filled_);
        (t.side == Side::Buy ? buy_ : sell_) += take;
        filled_ += take;
        if (filled_ >= v_) {
          done_.push_back(std::fabs(buy_ - sell_));
          buy_ = sell_ = filled_ = 0;
        }
        rem -= take;
      }
    }
    if (done_.size() < n_) return std::nullopt;
    double s = 0;
    for (std::size_t i = done_.size() - n_; i < done_.size(); ++i) s += done_[i];
    return s / (static_cast<double>(n_) * v_);
  }

 private:
  double v_;
  std::size_t n_;
  double buy_ = 0, sell_ = 0, filled_ = 0;
  std::vector<double> done_;
};

TEST(Micro, VpinMatchesPlainBucketsAndStaysBounded) {
  for (double v : {0.5, 2.0, 7.0}) {
    for (std::size_t n : {1, 3, 10}) {
      auto ev = build("Vpin", {v, double(n)});
      NaiveVpin naive(v, n);
      // Sizes up to 3 against buckets of 0.5 span several buckets, including more than n.
      auto trades = random_trades(300, 19, 1, false);
      for (std::size_t i = 0; i < trades.size(); ++i) {
        Feed f;
        f.trades = trades[i];
        expect_same(ev->update(f.ctx()), naive.step(trades[i]),
                    "V=" + std::to_string(v) + " n=" + std::to_string(n) + " step " +
                        std::to_string(i));
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  // One enormous (and one infinite) trade returns promptly: it first closes the open balanced
  // bucket, then only n one-sided buckets survive. With unit buckets every step is exact.
  const auto start = std::chrono::steady_clock::now();
  for (double size : {1e300, kInf}) {
    auto ev = build("Vpin", {1, 1000});
    Feed f;
    f.trades = {sell(1, 0.5), buy(1, size)};
    expect_same(ev->update(f.ctx()), 1.0, "huge trade size " + std::to_string(size));
  }
  // Buckets of 1e-300 against 1e300: n * V is far below the size, still n + 2 bucket steps. The
  // last bucket may stay a rounding hair short of full, so only the order of the value is fixed.
  for (double size : {1e300, kInf}) {
    auto ev = build("Vpin", {1e-300, 1000});
    Feed f;
    f.trades = {sell(1, 0.5e-300), buy(1, size)};
    auto v = ev->update(f.ctx());
    ASSERT_TRUE(v);
    EXPECT_NEAR(*v, 1.0, 2e-3);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// ----------------------------------------------------------------------------------------------
// Breadth

CrossSection section(std::vector<CrossSectionMember> m) { return {std::move(m), 0}; }
CrossSectionMember adv(double vol = 1) { return {1, vol, false, false}; }
CrossSectionMember dec(double vol = 1) { return {-1, vol, false, false}; }
CrossSectionMember flat(double vol = 1) { return {0, vol, false, false}; }

TEST(Breadth, Snapshots) {
  const auto three_one_one = section({adv(), adv(), adv(), dec(), flat()});
  const auto no_decliners = section({adv(4), adv(6), flat(3)});
  auto flags = section({adv(), dec(), flat(), flat(), flat()});
  flags.members[0].above_ma = flags.members[2].above_ma = true;
  flags.members[1].bullish = true;
  flags.members[3].new_high = flags.members[4].new_high = true;
  flags.members[4].new_low = true;
  const auto half_volume = section({adv(0.5), dec(0.25), dec(0.25)});
  const auto no_volume = section({adv(0), dec(0)});
  struct Case {
    const char* id;
    const char* name;
    std::vector<double> params;
    CrossSection cs;
    double want;
  } cases[] = {
      {"tick 3-1-1", "TickIndex", {}, three_one_one, 2},
      {"ratio 3-1-1", "AdvanceDeclineRatio", {}, three_one_one, 3},
      {"abs breadth", "AbsoluteBreadthIndex", {}, section({adv(), dec(), dec(), dec()}), 2},
      {"thrust record", "BreadthThrust", {1}, three_one_one, 0.75},
      {"mcclellan first is 0", "McClellanOscillator", {}, three_one_one, 0},
      {"ratio without decliners is A", "AdvanceDeclineRatio", {}, no_decliners, 2},
      {"trin without decliners", "Trin", {}, no_decliners, 2.0 * 1 / 10},
      {"up/down volume without decliners", "UpDownVolumeRatio", {}, no_decliners, 10},
      {"volumes below 1 floor at 1", "Trin", {}, half_volume, (1.0 / 2) / (1.0 / 1)},
      {"cvi with zero total volume adds 0", "CumulativeVolumeIndex", {}, no_volume, 0},
      {"cvi", "CumulativeVolumeIndex", {}, three_one_one, 2.0 / 5},
      {"ad volume line", "AdVolumeLine", {}, no_decliners, 10},
      {"new highs - new lows", "NewHighsNewLows", {}, flags, 1},
      {"high-low index", "HighLowIndex", {1}, flags, 100.0 * 2 / 3},
      {"high-low index without highs or lows", "HighLowIndex", {1}, three_one_one, 0},
      {"thrust without movers", "BreadthThrust", {1}, section({flat()}), 0},
      {"percent above ma", "PercentAboveMa", {}, flags, 40},
      {"bullish percent", "BullishPercentIndex", {}, flags, 20},
      {"documents leave flags unset", "PercentAboveMa", {}, three_one_one, 0},
  };
  for (auto& c : cases) {
    auto ev = build(c.name, c.params);
    ASSERT_TRUE(ev);
    Feed f;
    f.section = c.cs;
    auto v = ev->update(f.ctx());
    ASSERT_TRUE(v.has_value()) << c.id;
    EXPECT_DOUBLE_EQ(*v, c.want) << c.id;
  }
}

TEST(Breadth, VolumeSumsStartFromNegativeZero) {
  // An empty up-volume sum stays -0.0, and members that neither advance nor decline add nothing
  // to either side.
  auto ev = build("UpDownVolumeRatio", {});
  Feed f;
  f.section = section({dec(3), flat(5)});
  auto v = ev->update(f.ctx());
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, 0.0);
  EXPECT_TRUE(std::signbit(*v));
}

TEST(Breadth, RunningMembersCountOnlyStepsWithASection) {
  auto run = [](const char* name, std::vector<double> params,
                std::vector<std::optional<CrossSection>> steps) {
    auto ev = build(name, params);
    std::vector<Opt> out;
    for (auto& s : steps) {
      Feed f;
      f.section = s;
      out.push_back(ev->update(f.ctx()));
    }
    return out;
  };
  const auto a31 = section({adv(), adv(), adv(), dec()});
  const auto a14 = section({adv(), dec(), dec(), dec(), dec()});
  EXPECT_EQ(run("AdvanceDecline", {}, {a31, std::nullopt, a14}),
            (std::vector<Opt>{2.0, std::nullopt, -1.0}));
  // RANA 0 then 100: fast 10, slow 5.
  const auto rana0 = section({adv(), dec()});
  const auto rana100 = section({adv(), adv(), adv(), adv(), adv(), adv(), adv(), adv(), adv(),
                                adv(), adv(), dec(), dec(), dec(), dec(), dec(), dec(), dec(),
                                dec(), dec()});  // 11 vs 9: 1000 * 2 / 20
  auto osc = run("McClellanOscillator", {}, {rana0, std::nullopt, rana100});
  ASSERT_TRUE(osc[0] && osc[2]);
  EXPECT_FALSE(osc[1]);
  EXPECT_DOUBLE_EQ(*osc[0], 0);
  EXPECT_DOUBLE_EQ(*osc[2], 5);
  auto sum = run("McClellanSummationIndex", {}, {rana0, rana100, rana100});
  // Second step adds 5; third: fast 19, slow 9.75 -> adds 9.25.
  EXPECT_DOUBLE_EQ(*sum[0], 0);
  EXPECT_DOUBLE_EQ(*sum[1], 5);
  EXPECT_DOUBLE_EQ(*sum[2], 14.25);
  auto hl = run("HighLowIndex", {2}, {a31, std::nullopt, a31});
  EXPECT_EQ(hl, (std::vector<Opt>{std::nullopt, std::nullopt, 0.0}));
}

}  // namespace
}  // namespace ostrel
