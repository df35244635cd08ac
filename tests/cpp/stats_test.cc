// Rolling statistics and derivatives metrics: the shared cores against plain recomputation, the
// numeric examples that pin each member's formula, and every construction error text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ostrel-core/numeric/midpoint.h"
#include "ostrel-core/numeric/quantile.h"
#include "ostrel-core/numeric/rolling_moments.h"
#include "ostrel-core/numeric/rolling_regression.h"
#include "ostrel-core/numeric/rolling_sum.h"
#include "ostrel-core/registry.h"

namespace ostrel {
namespace {

using numeric::interpolated_quantile;
using numeric::midpoint;

// ---------------------------------------------------------------------------------------------
// Series that stress the cores: drift of running sums, cancellation far from zero, tiny scales.

struct Series {
  const char* id;
  std::vector<double> xs;
};

std::vector<Series> adversarial_series() {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<Series> out;
  auto make = [&](const char* id, auto f) {
    Series s{id, {}};
    for (int i = 0; i < 700; ++i) s.xs.push_back(f(i));
    out.push_back(std::move(s));
  };
  make("random_walk", [&, p = 100.0](int) mutable { return p += z(rng); });
  make("flat", [](int) { return 42.5; });
  make("flat_runs", [&](int i) { return static_cast<double>((i / 37) % 3) * 1.5; });
  make("huge_offset", [&](int) { return 1e9 + z(rng); });
  make("tiny", [&](int) { return 1e-9 * z(rng); });
  make("alternating", [](int i) { return i % 2 ? 1e6 : -1e6; });
  make("spike", [&](int i) { return i == 300 ? 1e12 : z(rng); });
  return out;
}

struct Plain {
  double mean, var, m3, m4, slope, intercept;
};

// Two-pass statistics of the last n values ending at index `end` (exclusive), in long double.
Plain plain(const std::vector<double>& xs, std::size_t end, std::size_t n) {
  long double s = 0;
  for (std::size_t i = end - n; i < end; ++i) s += xs[i];
  const long double mean = s / n;
  long double m2 = 0, m3 = 0, m4 = 0, sty = 0;
  const long double tbar = (n - 1) / 2.0L;
  long double stt = 0;
  for (std::size_t i = end - n, t = 0; i < end; ++i, ++t) {
    const long double d = xs[i] - mean;
    m2 += d * d;
    m3 += d * d * d;
    m4 += d * d * d * d;
    sty += (t - tbar) * d;
    stt += (t - tbar) * (t - tbar);
  }
  const long double slope = sty / stt;
  return {static_cast<double>(mean), static_cast<double>(m2 / n), static_cast<double>(m3 / n),
          static_cast<double>(m4 / n), static_cast<double>(slope),
          static_cast<double>(mean - slope * tbar)};
}

// |a - b| within rel of the scale `of` (plus an absolute floor for values that should be 0).
void expect_close(double a, double b, double of, const std::string& what) {
  const double tol = 1e-9 * std::max(std::abs(of), 1e-300) + 1e-300;
  EXPECT_LE(std::abs(a - b), tol) << what << ": " << a << " vs " << b;
}

TEST(StatsCores, RollingCoresMatchPlainRecomputation) {
  for (const auto& s : adversarial_series()) {
    for (std::size_t n : {1u, 2u, 5u, 64u}) {
      numeric::RollingSum sum(n);
      numeric::RollingHigherMoments mom(n);
      numeric::RollingRegression reg(n);
      for (std::size_t i = 0; i < s.xs.size(); ++i) {
        sum.push(s.xs[i]);
        mom.push(s.xs[i]);
        reg.push(s.xs[i]);
        ASSERT_EQ(sum.full(), i + 1 >= n);
        if (i + 1 < n) continue;
        const Plain p = plain(s.xs, i + 1, n);
        // Incremental sums carry rounding from every value since the last exact recomputation,
        // at most 2n values back, so errors are judged against the largest of those.
        long double scale = 0;
        for (std::size_t j = i + 1 >= 2 * n ? i + 1 - 2 * n : 0; j <= i; ++j)
          scale = std::max<long double>(scale, std::abs(s.xs[j]));
        const double sc = static_cast<double>(scale);
        const std::string at = std::string(s.id) + " n=" + std::to_string(n) + " @" + std::to_string(i);
        expect_close(sum.sum() / n, p.mean, sc, "sum " + at);
        expect_close(mom.mean(), p.mean, sc, "mean " + at);
        expect_close(mom.variance(), p.var, sc * sc, "variance " + at);
        expect_close(mom.third_moment(), p.m3, sc * sc * sc, "m3 " + at);
        expect_close(mom.fourth_moment(), p.m4, sc * sc * sc * sc, "m4 " + at);
        if (n >= 2) {
          expect_close(reg.slope(), p.slope, sc, "slope " + at);
          expect_close(reg.intercept(), p.intercept, sc, "intercept " + at);
        }
      }
    }
  }
}

TEST(StatsCores, RegressionConstantsAreExactForLargeWindows) {
  struct Case {
    std::size_t n;
    double t1, d;
  };
  // D = n^2 (n^2 - 1) / 12.
  const long double big = 16777216.0L;
  const Case cases[] = {
      {1, 0, 0},
      {2, 1, 1},
      {3, 3, 6},
      {10, 45, 825},
      {16777216, 140737479966720.0, static_cast<double>(big * big * (big * big - 1) / 12)},
  };
  for (const auto& c : cases) {
    const auto r = numeric::regression_constants(c.n);
    EXPECT_EQ(r.t1, c.t1) << c.n;
    EXPECT_EQ(r.d, c.d) << c.n;
  }
}

TEST(StatsCores, QuantileAndMidpoint) {
  const double top = std::numeric_limits<double>::max();
  struct Case {
    const char* id;
    std::vector<double> sorted;
    double q, want;
  };
  const Case cases[] = {
      {"median_even", {1, 2, 3, 4}, 0.5, 2.5},
      {"top", {1, 2, 3, 4}, 1.0, 4},
      {"bottom", {1, 2, 3, 4}, 0.0, 1},
      {"interpolated", {1, 2, 3, 4}, 0.25, 1.75},
      {"single", {7}, 0.3, 7},
      {"overflowing_gap_on_a_point", {-top, 0, top}, 0.5, 0},
      {"overflowing_gap_between", {-top, top}, 0.5, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(interpolated_quantile(c.sorted, c.q), c.want) << c.id;

  EXPECT_EQ(midpoint(1, 4), 2.5);
  EXPECT_EQ(midpoint(top, top), top);
  EXPECT_EQ(midpoint(-top, top), 0);
  EXPECT_EQ(numeric::sorted_median(std::vector<double>{1, 2, 10}), 2);
  EXPECT_EQ(numeric::sorted_median(std::vector<double>{top, top}), top);
}

TEST(StatsCores, SortedWindowKeepsTheWindowSorted) {
  std::mt19937_64 rng(3);
  std::uniform_int_distribution<int> small(-3, 3);
  numeric::SortedWindow w(9);
  std::vector<double> all;
  for (int i = 0; i < 500; ++i) {
    const int k = small(rng);
    const double x = k == 0 ? (i % 2 ? 0.0 : -0.0) : k * 0.5;  // many ties, both zeros
    all.push_back(x);
    w.push(x);
    std::vector<double> want(all.end() - static_cast<long>(w.size()), all.end());
    std::sort(want.begin(), want.end());
    auto got = w.sorted();
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t j = 0; j < want.size(); ++j) ASSERT_EQ(got[j], want[j]) << i;
    // The sorted copy holds exactly the window's bits (sign of zero included).
    int neg_zeros_window = 0, neg_zeros_sorted = 0;
    w.window().for_each([&](double v) { neg_zeros_window += v == 0 && std::signbit(v); });
    for (double v : got) neg_zeros_sorted += v == 0 && std::signbit(v);
    ASSERT_EQ(neg_zeros_window, neg_zeros_sorted) << i;
  }
}

}  // namespace
}  // namespace ostrel
