// Moving averages: the smoothing cores against plain recomputations, the numeric examples that
// pin down evaluation order, and every construction error text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ostrel-core/numeric/cmo_core.h"
#include "ostrel-core/numeric/ema_core.h"
#include "ostrel-core/numeric/mama_core.h"
#include "ostrel-core/numeric/vwma_core.h"
#include "ostrel-core/numeric/wilder_core.h"
#include "ostrel-core/numeric/wma_core.h"
#include "ostrel-core/numeric/zlema_core.h"
#include "ostrel-core/registry.h"

namespace ostrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Series that stress the cores: random walk, flat runs, huge and tiny magnitudes, alternating
// signs, with non-finite gaps the cores must skip without counting.
std::vector<std::pair<const char*, std::vector<double>>> adversarial_series() {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> step(0.0, 1.0);
  std::vector<double> walk, flat, huge, tiny, alt, gaps;
  double p = 100;
  for (int i = 0; i < 400; ++i) {
    p += step(rng);
    walk.push_back(p);
    flat.push_back(i < 150 ? 5.0 : (i < 300 ? -3.25 : 5.0));
    huge.push_back((1 + 0.1 * step(rng)) * 1e300);
    tiny.push_back((1 + 0.1 * step(rng)) * 1e-300);
    alt.push_back((i % 2 ? -1.0 : 1.0) * (1 + i % 7));
    gaps.push_back(i % 11 == 3 ? kNaN : (i % 13 == 5 ? kInf : p));
  }
  return {{"walk", walk}, {"flat", flat}, {"huge", huge},
          {"tiny", tiny}, {"alternating", alt}, {"nan gaps", gaps}};
}

std::vector<double> finite_only(const std::vector<double>& xs) {
  std::vector<double> out;
  for (double x : xs)
    if (std::isfinite(x)) out.push_back(x);
  return out;
}

bool close_to(double got, double want, double rel) {
  if (got == want) return true;
  return std::fabs(got - want) <= rel * std::max(std::fabs(want), 1e-300) ||
         std::fabs(got - want) <= rel * 1e-12;
}

TEST(MaCores, EmaMatchesSeededRecurrence) {
  for (const auto& [id, xs] : adversarial_series()) {
    for (std::size_t n : {1u, 2u, 3u, 10u, 50u}) {
      numeric::EmaCore core(n);
      const std::vector<double> acc = finite_only(xs);
      const double alpha = 2.0 / (static_cast<double>(n) + 1.0);
      std::size_t k = 0;  // accepted so far
      double want = 0;
      for (double x : xs) {
        auto got = core.push(x);
        if (!std::isfinite(x)) {
          EXPECT_FALSE(got) << id;
          continue;
        }
        ++k;
        if (k < n) {
          EXPECT_FALSE(got) << id << " n=" << n << " k=" << k;
          continue;
        }
        if (k == n) {
          double s = -0.0;
          for (std::size_t i = 0; i < n; ++i) s += acc[i];
          want = s / static_cast<double>(n);
        } else {
          want = std::fma(alpha, x, (1.0 - alpha) * want);
        }
        ASSERT_TRUE(got) << id << " n=" << n << " k=" << k;
        EXPECT_EQ(*got, want) << id << " n=" << n << " k=" << k;
      }
    }
  }
}

TEST(MaCores, WmaMatchesFullRecomputation) {
  for (const auto& [id, xs] : adversarial_series()) {
    for (std::size_t n : {1u, 2u, 3u, 10u, 50u}) {
      numeric::WmaCore core(n);
      std::vector<double> acc;
      for (double x : xs) {
        auto got = core.push(x);
        if (!std::isfinite(x)) {
          EXPECT_FALSE(got) << id;
          continue;
        }
        acc.push_back(x);
        if (acc.size() < n) {
          EXPECT_FALSE(got);
          continue;
        }
        double w = 0, d = 0;
        for (std::size_t i = 0; i < n; ++i) {
          w += static_cast<double>(i + 1) * acc[acc.size() - n + i];
          d += static_cast<double>(i + 1);
        }
        ASSERT_TRUE(got);
        if (acc.size() == n) {
          EXPECT_EQ(*got, w / d) << id << " n=" << n;  // first window is summed exactly
        } else {
          // The weighted sum is only ever updated, so it drifts a little from a fresh sum.
          EXPECT_TRUE(close_to(*got, w / d, 1e-9)) << id << " n=" << n << " got " << *got
                                                   << " want " << w / d;
        }
      }
    }
  }
}

TEST(MaCores, WilderMatchesRecurrence) {
  for (const auto& [id, xs] : adversarial_series()) {
    const std::vector<double> acc = finite_only(xs);
    for (std::size_t n : {1u, 2u, 14u}) {
      numeric::WilderCore core(n);
      double want = 0, s = -0.0;
      for (std::size_t k = 0; k < acc.size(); ++k) {
        auto got = core.push(acc[k]);
        if (k + 1 < n) {
          s += acc[k];
          EXPECT_FALSE(got);
          continue;
        }
        if (k + 1 == n) {
          s += acc[k];
          want = s / static_cast<double>(n);
        } else {
          want = (acc[k] + (static_cast<double>(n) - 1.0) * want) / static_cast<double>(n);
        }
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, want) << id << " n=" << n;
      }
    }
  }
}

TEST(MaCores, SmallExamples) {
  numeric::EmaCore ema(3);
  std::vector<std::optional<double>> e;
  for (double x : {1.0, 2.0, kNaN, 3.0, 4.0}) e.push_back(ema.push(x));
  EXPECT_EQ(e, (std::vector<std::optional<double>>{std::nullopt, std::nullopt, std::nullopt, 2.0,
                                                   3.0}));
  numeric::WmaCore wma(3);
  EXPECT_FALSE(wma.push(1));
  EXPECT_FALSE(wma.push(2));
  EXPECT_EQ(wma.push(3), 14.0 / 6.0);
  EXPECT_EQ(wma.push(4), 20.0 / 6.0);
  numeric::WilderCore w(2);
  EXPECT_FALSE(w.push(1));
  EXPECT_EQ(w.push(3), 2.0);
  EXPECT_EQ(w.push(6), 4.0);
  for (auto r : {numeric::EmaCore::create(0).has_value(), numeric::WmaCore::create(0).has_value(),
                 numeric::WilderCore::create(0).has_value()})
    EXPECT_FALSE(r);
  EXPECT_FALSE(numeric::WmaCore::create(MAX_PERIOD + 1).has_value());
}

// The incremental cores against a fresh computation over the accepted history.
TEST(MaCores, CmoZlemaVwmaMatchPlainRecomputation) {
  for (const auto& [id, xs] : adversarial_series()) {
    const std::vector<double> acc = finite_only(xs);
    for (std::size_t n : {1u, 2u, 5u, 14u}) {
      numeric::CmoCore cmo(n);
      numeric::ZlemaCore zl(n);
      numeric::EmaCore zl_ema(n);
      numeric::VwmaCore vw(n);
      const std::size_t lag = (n - 1) / 2;
      for (std::size_t k = 0; k < acc.size(); ++k) {
        const double x = acc[k];
        // Cmo: sums of the last n ups and downs.
        auto c = cmo.push(x);
        if (k < n) {
          EXPECT_FALSE(c) << id;
        } else {
          double su = 0, sd = 0;
          for (std::size_t j = k + 1 - n; j <= k; ++j) {
            const double d = acc[j] - acc[j - 1];
            su += std::max(d, 0.0);
            sd += std::max(-d, 0.0);
          }
          const double want = su + sd != 0 ? (su - sd) * 100 / (su + sd) : 0.0;
          ASSERT_TRUE(c);
          EXPECT_TRUE(close_to(*c, want, 1e-7)) << id << " n=" << n << " k=" << k << " " << *c
                                                << " vs " << want;
        }
        // Zlema: the EMA of 2 * x - x[lag back], exactly.
        auto z = zl.push(x);
        std::optional<double> zw;
        if (k >= lag) zw = zl_ema.push(std::fma(2.0, x, -acc[k - lag]));
        EXPECT_EQ(z.has_value(), zw.has_value()) << id;
        if (z && zw) {
          EXPECT_EQ(*z, *zw) << id << " n=" << n;
        }
        // Vwma: volumes cycle through 0 so both branches run; the close doubles as a scale.
        const double vol = static_cast<double>((k * 7) % 5);
        auto v = vw.push(x, vol);
        if (k + 1 < n) {
          EXPECT_FALSE(v);
        } else {
          double pv = 0, sv = 0, sc = 0;
          for (std::size_t j = k + 1 - n; j <= k; ++j) {
            const double vj = static_cast<double>((j * 7) % 5);
            pv += acc[j] * vj;
            sv += vj;
            sc += acc[j];
          }
          const double want = sv > 0 ? pv / sv : sc / static_cast<double>(n);
          ASSERT_TRUE(v);
          EXPECT_TRUE(close_to(*v, want, 1e-7)) << id << " n=" << n << " k=" << k;
        }
      }
    }
  }
  EXPECT_EQ(numeric::ZlemaCore(20).warmup_period(), 9u + 20u);
}

TEST(MaCores, MamaFirstValueAtInput33AndStaysBetweenPrices) {
  numeric::MamaCore core(0.5, 0.05);
  std::mt19937_64 rng(3);
  std::normal_distribution<double> step(0.0, 1.0);
  double p = 50, lo = p, hi = p;
  for (std::size_t k = 1; k <= 300; ++k) {
    p += step(rng);
    lo = std::min(lo, p);
    hi = std::max(hi, p);
    auto v = core.push(p);
    ASSERT_EQ(v.has_value(), k >= 33) << k;
    // Both lines are convex mixes of past prices, so they never leave the price range.
    if (v) {
      EXPECT_TRUE(v->mama >= lo && v->mama <= hi && v->fama >= lo && v->fama <= hi) << k;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Members through the registry

using Out = std::vector<std::optional<double>>;
constexpr std::nullopt_t kNone = std::nullopt;

// Replays candles through a registered member; close-kind members only read the close.
Out run_candles(std::string_view name, std::vector<double> params, const std::vector<Candle>& cs,
                std::vector<std::vector<double>>* extras = nullptr) {
  auto ev = Registry::instance().build(name, params);
  EXPECT_TRUE(ev.has_value()) << name << ": " << (ev ? "" : ev.error().display());
  Out out;
  if (!ev) return out;
  for (const Candle& c : cs) {
    StepContext ctx;
    ctx.candle = &c;
    out.push_back((*ev)->update(ctx));
    if (extras && out.back()) {
      auto e = (*ev)->extras();
      extras->emplace_back(e.begin(), e.end());
    }
  }
  return out;
}

Out run(std::string_view name, std::vector<double> params, const std::vector<double>& closes) {
  std::vector<Candle> cs;
  for (double c : closes) cs.push_back({0, c, c, c, c, 1});
  return run_candles(name, std::move(params), cs);
}

TEST(MovingAverages, NumericExamples) {
  const double big = 1e308, bigger = 1.5e308;
  struct Case {
    const char* id;
    const char* name;
    std::vector<double> params;
    std::vector<double> closes;
    Out want;
  } cases[] = {
      {"ema seeds with the mean then fma step", "Ema", {3}, {1, 2, 3, 4}, {kNone, kNone, 2.0, 3.0}},
      {"dema of period 1 is the close", "Dema", {1}, {5, -2, 7}, {5.0, -2.0, 7.0}},
      {"wma weights newest heaviest", "Wma", {3}, {1, 2, 3}, {kNone, kNone, 14.0 / 6.0}},
      {"hma of period 1 uses half 1 and root 1", "Hma", {1}, {3, 8}, {3.0, 8.0}},
      {"trima 4 is a mean of means 2 and 3", "Trima", {4}, {1, 2, 3, 4, 5},
       {kNone, kNone, kNone, 2.5, 3.5}},
      {"smma seeds with the mean", "Smma", {2}, {1, 3, 6}, {kNone, 2.0, 4.0}},
      {"kama on a flat series stays put", "Kama", {3, 2, 30}, {7, 7, 7, 7, 7, 7},
       {kNone, kNone, kNone, 7.0, 7.0, 7.0}},
      {"geometric skips zero and negative closes", "GeometricMa", {2}, {1, 0, -3, 1, 1},
       {kNone, kNone, kNone, 1.0, 1.0}},
      {"median of two huge values does not overflow", "MedianMa", {2}, {big, bigger},
       {kNone, 1.25e308}},
      {"median of odd window", "MedianMa", {3}, {5, -1, 2, 9}, {kNone, kNone, 2.0, 2.0}},
      {"median orders -0 before +0", "MedianMa", {3}, {0.0, -0.0, 0.0, -0.0, -0.0},
       {kNone, kNone, 0.0, -0.0, -0.0}},
      {"midpoint of huge extremes", "MidPoint", {2}, {-big, bigger, big},
       {kNone, -big * 0.5 + bigger * 0.5, 1.25e308}},
      {"jma returns the first close", "Jma", {14, 0, 2}, {42.5}, {42.5}},
      {"holt-winters level and trend from the second close", "HoltWinters", {0.5, 0.5}, {1, 3, 5},
       {kNone, 5.0, 7.0}},
      {"mcginley keeps its value on a zero close", "McGinleyDynamic", {2}, {2, 4, 0, 0},
       {kNone, 3.0, 3.0, 3.0}},
      {"vidya on a rising series uses |cmo| = 100", "Vidya", {3, 2}, {1, 2, 3, 4},
       {kNone, kNone, 3.0, 3.5}},
      {"zlema waits for its lag then seeds", "Zlema", {3}, {1, 2, 4, 8},
       {kNone, kNone, kNone, (3.0 + 6.0 + 12.0) / 3.0}},
      {"gd with factor 1 is dema", "GeneralizedDema", {1, 1}, {4, 6}, {4.0, 6.0}},
  };
  // Equal values with the same sign, so a wrong signed zero also fails.
  auto same = [](const Out& a, const Out& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].has_value() != b[i].has_value()) return false;
      if (a[i] && (*a[i] != *b[i] || std::signbit(*a[i]) != std::signbit(*b[i]))) return false;
    }
    return true;
  };
  for (const auto& c : cases) {
    const Out got = run(c.name, c.params, c.closes);
    EXPECT_TRUE(same(got, c.want)) << c.id << ": " << ::testing::PrintToString(got);
  }
}

TEST(MovingAverages, CandleMembers) {
  auto candle = [](double low, double high, double close, double volume) {
    return Candle{0, close, high, low, close, volume};
  };
  const std::vector<Candle> no_volume = {candle(1, 3, 2, 0), candle(3, 5, 4, 0),
                                         candle(5, 9, 9, 0)};
  EXPECT_EQ(run_candles("Vwma", {2}, no_volume), (Out{kNone, 3.0, 6.5})) << "plain mean";
  EXPECT_EQ(run_candles("Evwma", {2}, no_volume), (Out{kNone, 4.0, 4.0}))
      << "no volume: close first, then the previous value";
  EXPECT_EQ(run_candles("MidPrice", {2}, no_volume), (Out{kNone, 3.0, 6.0}));
  const std::vector<Candle> traded = {candle(1, 3, 2, 1), candle(3, 5, 4, 3), candle(5, 9, 9, 1)};
  EXPECT_EQ(run_candles("Vwma", {2}, traded), (Out{kNone, 14.0 / 4.0, 21.0 / 4.0}));
  // First: (4*3 + (4-3)*4) / 4 = 4; then (9*1 + (4-1)*4) / 4 = 21/4.
  EXPECT_EQ(run_candles("Evwma", {2}, traded), (Out{kNone, 4.0, 21.0 / 4.0}));
  // The running sums lose the small closes next to 1e17 and are exactly re-summed every n
  // updates: the drift shows for two steps, then the true mean returns.
  std::vector<Candle> drift = {candle(1e17, 1e17, 1e17, 0)};
  for (int i = 0; i < 5; ++i) drift.push_back(candle(1, 1, 1, 0));
  EXPECT_EQ(run_candles("Vwma", {3}, drift),
            (Out{kNone, kNone, 1e17 / 3, 1.0 / 3, 1.0 / 3, 1.0}));
}

TEST(MovingAverages, MamaAndFamaShareOneCore) {
  std::vector<double> closes;
  for (int i = 0; i < 80; ++i) closes.push_back(100 + 10 * std::sin(i * 0.3) + 0.1 * i);
  std::vector<Candle> cs;
  for (double c : closes) cs.push_back({0, c, c, c, c, 1});
  std::vector<std::vector<double>> extras;
  Out mama = run_candles("Mama", {0.5, 0.05}, cs, &extras);
  Out fama = run("Fama", {0.5, 0.05}, closes);
  for (std::size_t i = 0; i < closes.size(); ++i) {
    ASSERT_EQ(mama[i].has_value(), i >= 32) << i;
    ASSERT_EQ(fama[i].has_value(), i >= 32) << i;
    if (!mama[i]) continue;
    const auto& e = extras[i - 32];
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0], *mama[i]);
    EXPECT_EQ(e[1], *fama[i]);
  }
}

// Window members against a fresh computation over the accepted closes, on a walk with
// non-finite gaps (skipped by the engine) and non-positive stretches.
TEST(MovingAverages, WindowMembersMatchPlainRecomputation) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> closes;
  double p = 3;
  for (int i = 0; i < 500; ++i) {
    p += z(rng);
    closes.push_back(i % 17 == 4 ? kNaN : (i % 23 == 9 ? -kInf : (i % 50 < 10 ? 7.0 : p)));
  }
  using Ref = std::function<std::optional<double>(const std::vector<double>& hist)>;
  auto last = [](const std::vector<double>& h, std::size_t n) {
    return std::vector<double>(h.end() - static_cast<std::ptrdiff_t>(n), h.end());
  };
  auto wma = [&](const std::vector<double>& w) {
    double s = 0, d = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
      s += (i + 1.0) * w[i];
      d += i + 1.0;
    }
    return s / d;
  };
  struct Case {
    const char* name;
    std::vector<double> params;
    Ref ref;
  } cases[] = {
      {"Alma", {9, 0.85, 6}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 9) return kNone;
         auto w = last(h, 9);
         const double m = 8 * 0.85, s = (9.0 / 6) * 2 * (9.0 / 6);
         double num = 0, den = 0;
         for (int i = 0; i < 9; ++i) {
           const double wi = std::exp(-(i - m) * (i - m) / s);
           num += wi * w[i];
           den += wi;
         }
         return num / den;
       }},
      {"SineWeightedMa", {6}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 6) return kNone;
         auto w = last(h, 6);
         double num = 0, den = 0;
         for (int i = 0; i < 6; ++i) {
           const double wi = std::sin((i + 1) * M_PI / 7);
           num += wi * w[i];
           den += wi;
         }
         return num / den;
       }},
      {"MedianMa", {4}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 4) return kNone;
         auto w = last(h, 4);
         std::sort(w.begin(), w.end());
         return (w[1] + w[2]) / 2;
       }},
      {"MidPoint", {5}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 5) return kNone;
         auto w = last(h, 5);
         return (*std::max_element(w.begin(), w.end()) + *std::min_element(w.begin(), w.end())) / 2;
       }},
      {"Hma", {9}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 9 + 3 - 1) return kNone;
         std::vector<double> raw;
         for (std::size_t end = h.size() - 2; end <= h.size(); ++end) {
           std::vector<double> upto(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(end));
           raw.push_back(2 * wma(last(upto, 4)) - wma(last(upto, 9)));
         }
         return wma(raw);
       }},
      {"Kama", {4, 2, 30}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 5) return kNone;
         const double fast = 2.0 / 3, slow = 2.0 / 31;
         double out = h[0];
         for (std::size_t k = 4; k < h.size(); ++k) {
           double vol = 0;
           for (std::size_t j = k - 3; j <= k; ++j) vol += std::fabs(h[j] - h[j - 1]);
           const double er = vol != 0 ? std::fabs(h[k] - h[k - 4]) / vol : 0.0;
           const double sc = (fast - slow) * er + slow;
           out = out + sc * sc * (h[k] - out);
         }
         return out;
       }},
      {"Frama", {4}, [&](const auto& h) -> std::optional<double> {
         if (h.size() < 4) return kNone;
         double out = h[3];
         for (std::size_t k = 3; k < h.size(); ++k) {
           auto span = [&](std::size_t a, std::size_t b) {
             auto [lo, hi] = std::minmax_element(h.begin() + static_cast<std::ptrdiff_t>(a),
                                                 h.begin() + static_cast<std::ptrdiff_t>(b));
             return *hi - *lo;
           };
           const double n1 = span(k - 3, k - 1) / 2, n2 = span(k - 1, k + 1) / 2,
                        n3 = span(k - 3, k + 1) / 4;
           double a = 0.01;
           if (n1 > 0 && n2 > 0 && n3 > 0)
             a = std::clamp(std::exp(-4.6 * (std::log2(n1 + n2) - std::log2(n3) - 1)), 0.01, 1.0);
           out = a * h[k] + (1 - a) * out;
         }
         return out;
       }},
      {"GeometricMa", {5}, [&](const auto& h) -> std::optional<double> {
         std::vector<double> pos;
         for (double x : h)
           if (x > 0) pos.push_back(x);
         if (pos.size() < 5 || !(h.back() > 0)) return kNone;
         double prod = 1;
         for (double x : last(pos, 5)) prod *= x;
         return std::pow(prod, 0.2);
       }},
  };
  for (const auto& c : cases) {
    Out got = run(c.name, c.params, closes);
    std::vector<double> hist;
    for (std::size_t i = 0; i < closes.size(); ++i) {
      if (!std::isfinite(closes[i])) {
        EXPECT_FALSE(got[i]) << c.name << " @" << i;
        continue;
      }
      hist.push_back(closes[i]);
      auto want = c.ref(hist);
      ASSERT_EQ(got[i].has_value(), want.has_value()) << c.name << " @" << i;
      if (want) {
        EXPECT_TRUE(close_to(*got[i], *want, 1e-9))
            << c.name << " @" << i << ": " << *got[i] << " vs " << *want;
      }
    }
  }
}

TEST(MovingAverages, ConstructionErrors) {
  const std::string big = "period exceeds the maximum supported window length (see MAX_PERIOD)";
  const double max = 16777216, over = 16777217;
  struct Case {
    const char* name;
    std::vector<double> params;
    std::string want;  // empty: builds
  } cases[] = {
      {"Sma", {max}, ""},
      {"Sma", {over}, "invalid period: " + big},
      {"Ema", {1e-300}, "period must be greater than zero"},
      {"Alma", {9, 1.5, 6}, "invalid period: ALMA offset must be a finite value in [0, 1]"},
      {"Alma", {1e-300, 1.5, 6}, "period must be greater than zero"},
      {"Alma", {9, 0.85, 0}, "invalid period: ALMA sigma must be a finite positive value"},
      {"Alma", {9, 1, 1e-9}, ""},
      {"T3", {5, 1.01}, "invalid period: T3 volume factor must be a finite value in [0.0, 1.0]"},
      {"T3", {over, 2}, "invalid period: " + big},
      {"GeneralizedDema", {5, -0.1},
       "invalid period: GD volume factor must be a finite value in [0.0, 1.0]"},
      {"Frama", {1}, "invalid period: FRAMA period must be at least 2"},
      {"Frama", {3}, "invalid period: FRAMA period must be even"},
      {"Frama", {over}, "invalid period: " + big},
      {"Jma", {14, 1e300, 1}, ""},
      {"Jma", {14, 0, 0}, "invalid period: JMA power must be in 1..=4"},
      {"Jma", {14, 0, 5}, "invalid period: JMA power must be in 1..=4"},
      {"Kama", {10, 30, 2}, "invalid period: KAMA fast period must be strictly less than slow"},
      {"Kama", {10, 5, 5}, "invalid period: KAMA fast period must be strictly less than slow"},
      {"Kama", {10, 1e-300, 2}, "period must be greater than zero"},
      {"Kama", {10, 2, 1e300}, ""},
      {"Kama", {max, 2, 30}, ""},
      {"Kama", {1e300, 2, 30}, "invalid period: " + big},
      {"Vidya", {1e300, 9}, ""},
      {"Vidya", {14, over}, "invalid period: " + big},
      {"Vidya", {1e-300, 9}, "period must be greater than zero"},
      {"Mama", {0.5, 0.6},
       "invalid period: fast_limit, slow_limit must satisfy 0 < slow_limit <= fast_limit <= 1"},
      {"Fama", {1.5, 0.05},
       "invalid period: fast_limit, slow_limit must satisfy 0 < slow_limit <= fast_limit <= 1"},
      {"Fama", {0.5, 0},
       "invalid period: fast_limit, slow_limit must satisfy 0 < slow_limit <= fast_limit <= 1"},
      {"Mama", {1, 1}, ""},
      {"HoltWinters", {0, 0.5}, "invalid period: HoltWinters alpha must be in (0.0, 1.0]"},
      {"HoltWinters", {1, 1.5}, "invalid period: HoltWinters beta must be in (0.0, 1.0]"},
      {"HoltWinters", {1, 1}, ""},
  };
  for (const auto& c : cases) {
    auto r = Registry::instance().build(c.name, c.params);
    const std::string got = r ? "" : r.error().display();
    const std::string prefix = "invalid parameters for indicator " + std::string(c.name) + ": ";
    const std::string want = c.want.empty() ? "" : prefix + c.want;
    EXPECT_EQ(got, want) << c.name << " " << ::testing::PrintToString(c.params);
  }
}

}  // namespace
}  // namespace ostrel
