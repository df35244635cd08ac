// Moving averages: the smoothing cores against plain recomputations, the numeric examples that
// pin down evaluation order, and every construction error text.

#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace ostrel
