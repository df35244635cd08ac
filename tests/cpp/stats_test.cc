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
  return {static_cast<double>(mean),   static_cast<double>(m2 / n),
          static_cast<double>(m3 / n), static_cast<double>(m4 / n),
          static_cast<double>(slope),  static_cast<double>(mean - slope * tbar)};
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
        const std::string at =
            std::string(s.id) + " n=" + std::to_string(n) + " @" + std::to_string(i);
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

// ---------------------------------------------------------------------------------------------
// Members through the registry.

using Values = std::vector<std::optional<double>>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

EvaluatorPtr build(const std::string& name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  EXPECT_TRUE(r.has_value()) << name << ": " << (r ? "" : r.error().display());
  return r ? std::move(r).value() : nullptr;
}

// Feeds closes (NaN included, to be rejected) on minute candles; returns each step's output.
Values run_closes(const std::string& name, std::vector<double> params,
                  const std::vector<double>& closes) {
  auto ev = build(name, std::move(params));
  Values out;
  if (!ev) return out;
  std::int64_t ts = 0;
  for (double c : closes) {
    Candle candle{ts += 60000, c, c, c, c, 1};
    StepContext ctx;
    ctx.candle = &candle;
    out.push_back(ev->update(ctx));
  }
  return out;
}

TEST(Statistics, ConstructionErrors) {
  struct Case {
    const char* name;
    std::vector<double> params;
    const char* text;  // after "invalid parameters for indicator {name}: "
  };
  const char* too_long =
      "invalid period: period exceeds the maximum supported window length (see MAX_PERIOD)";
  const Case cases[] = {
      {"Skewness", {2}, "invalid period: skewness needs period >= 3"},
      {"Kurtosis", {3}, "invalid period: kurtosis needs period >= 4"},
      {"JarqueBera", {3}, "invalid period: Jarque-Bera needs period >= 4"},
      {"DetrendedStdDev", {1}, "invalid period: detrended stddev needs period >= 2"},
      {"StandardError", {2}, "invalid period: standard error needs period >= 3"},
      {"RSquared", {1}, "invalid period: R² needs period >= 2"},
      {"LinearRegression", {1}, "invalid period: linear regression needs period >= 2"},
      {"Cfo", {1}, "invalid period: linear regression needs period >= 2"},
      {"LinRegSlope", {1}, "invalid period: linear regression slope needs period >= 2"},
      {"LinRegAngle", {1}, "invalid period: linear regression slope needs period >= 2"},
      {"LinRegIntercept", {1}, "invalid period: linear regression intercept needs period >= 2"},
      {"Tsf", {1}, "invalid period: time series forecast needs period >= 2"},
      {"TsfOscillator", {1}, "invalid period: TSF oscillator needs period >= 2"},
      {"CorrelationTrendIndicator", {1}, "invalid period: CTI needs period >= 2"},
      {"RollingMinMaxScaler", {1}, "invalid period: min-max scaler needs period >= 2"},
      {"Autocorrelation", {10, 1e-300}, "invalid period: autocorrelation lag must be >= 1"},
      {"Autocorrelation", {10, 10}, "invalid period: autocorrelation needs period > lag"},
      {"Autocorrelation", {16777217, 1}, too_long},
      {"HurstExponent", {1, 1}, "invalid period: Hurst chunks must be >= 2"},
      {"HurstExponent", {10, 16777217}, too_long},
      {"HurstExponent", {7, 4}, "invalid period: Hurst period must be >= 2 * chunks"},
      {"HurstExponent", {16777217, 2}, too_long},
      {"HurstExponent",
       {16777216, 512},
       "invalid period: Hurst period * chunks must be <= 4294967296"},
      {"SampleEntropy", {3, 2, -1}, "invalid period: sample entropy needs period >= m + 2"},
      {"SampleEntropy", {10, 1e300, 0.2}, "invalid period: sample entropy needs period >= m + 2"},
      {"SampleEntropy",
       {10, 2, 0},
       "invalid parameter: sample entropy r_factor must be finite and positive"},
      {"SampleEntropy", {16777217, 2, 0.2}, too_long},
      {"SampleEntropy", {10, 1e-300, 0.2}, "period must be greater than zero"},
      {"SampleEntropy", {65537, 2, 0.2}, "invalid period: sample entropy needs period <= 65536"},
      {"ShannonEntropy", {10, 1}, "invalid period: Shannon entropy needs bins >= 2"},
      {"ShannonEntropy", {10, 16777217}, too_long},
      {"ShannonEntropy", {16777217, 10}, too_long},
      {"RollingQuantile", {16777217, 2}, too_long},
      {"RollingQuantile",
       {10, 1.5},
       "invalid parameter: rolling quantile must be a finite value in [0.0, 1.0]"},
      {"RollingQuantile",
       {10, -0.1},
       "invalid parameter: rolling quantile must be a finite value in [0.0, 1.0]"},
      {"PolarizedFractalEfficiency", {16777217, 1e-300}, too_long},
      {"PolarizedFractalEfficiency", {10, 1e-300}, "period must be greater than zero"},
      {"StdDev", {1e-300}, "period must be greater than zero"},
      {"LogReturn", {16777217}, too_long},
      {"FundingImpliedApr",
       {0},
       "invalid parameter: intervals_per_year must be finite and positive"},
      {"FundingImpliedApr",
       {-0.0},
       "invalid parameter: intervals_per_year must be finite and positive"},
      {"FundingImpliedApr",
       {-1095},
       "invalid parameter: intervals_per_year must be finite and positive"},
      {"FundingRateMean", {16777217}, too_long},
      {"OpenInterestMomentum", {1e-300}, "period must be greater than zero"},
  };
  for (const auto& c : cases) {
    auto r = Registry::instance().build(c.name, c.params);
    ASSERT_FALSE(r.has_value()) << c.name;
    EXPECT_EQ(r.error().display(),
              std::string("invalid parameters for indicator ") + c.name + ": " + c.text);
  }
  // Limits that must still construct.
  const std::pair<const char*, std::vector<double>> accepted[] = {
      {"StdDev", {16777216}},
      {"Autocorrelation", {16777216, 16777215}},
      {"HurstExponent", {16777216, 256}},
      {"SampleEntropy", {4, 2, 5e-324}},
      {"SampleEntropy", {65536, 2, 0.2}},
      {"FundingImpliedApr", {5e-324}},
  };
  for (const auto& [name, params] : accepted) build(name, params);
}

// Last value of a member over a series, as a table of hand-checked cases.
TEST(Statistics, NumericExamples) {
  const double line[] = {3, 5, 7, 9, 11};  // 3 + 2t
  const std::vector<double> linear(std::begin(line), std::end(line));
  const std::vector<double> flat(8, 4.25);
  struct Case {
    const char* id;
    const char* name;
    std::vector<double> params;
    std::vector<double> closes;
    double want;
  };
  const Case cases[] = {
      {"flat_variance", "Variance", {5}, flat, 0},
      {"flat_stddev", "StdDev", {5}, flat, 0},
      {"flat_zscore", "ZScore", {5}, flat, 0},
      {"flat_skewness", "Skewness", {5}, flat, 0},
      {"flat_kurtosis", "Kurtosis", {5}, flat, 0},
      {"flat_jarque_bera", "JarqueBera", {5}, flat, 0},
      {"flat_r_squared", "RSquared", {5}, flat, 1},
      {"flat_shannon", "ShannonEntropy", {5, 4}, flat, 0},
      {"flat_sample_entropy", "SampleEntropy", {5, 2, 0.2}, flat, 0},
      {"flat_min_max", "RollingMinMaxScaler", {5}, flat, 0.5},
      {"flat_cti", "CorrelationTrendIndicator", {5}, flat, 0},
      {"flat_hurst", "HurstExponent", {8, 2}, flat, 0.5},
      {"line_slope", "LinRegSlope", {4}, linear, 2},
      {"line_r_squared", "RSquared", {4}, linear, 1},
      {"line_tsf", "Tsf", {4}, linear, 13},
      {"line_value", "LinearRegression", {4}, linear, 11},
      {"line_intercept", "LinRegIntercept", {4}, linear, 5},
      {"line_angle", "LinRegAngle", {4}, linear, std::atan(2.0) * 57.29577951308232},
      {"line_detrended", "DetrendedStdDev", {4}, linear, 0},
      {"line_cti", "CorrelationTrendIndicator", {4}, linear, 1},
      {"line_cfo", "Cfo", {4}, linear, 0},
      {"line_tsf_oscillator", "TsfOscillator", {4}, linear, (11.0 - 13) * 100 / 11},
      {"zscore", "ZScore", {3}, {1, 2, 6}, 3 / std::sqrt(14.0 / 3)},
      {"coefficient_of_variation",
       "CoefficientOfVariation",
       {3},
       {1, 2, 3},
       std::sqrt(2.0 / 3) / 2},
      {"coefficient_of_variation_zero_mean", "CoefficientOfVariation", {2}, {-1, 1}, 0},
      {"skewness", "Skewness", {3}, {1, 2, 6}, 6 / std::pow(14.0 / 3, 1.5)},
      {"r_squared", "RSquared", {3}, {1, 3, 2}, 0.25},
      {"detrended", "DetrendedStdDev", {3}, {1, 3, 2}, std::sqrt(0.5)},
      {"standard_error", "StandardError", {3}, {1, 3, 2}, std::sqrt(1.5)},
      {"cti", "CorrelationTrendIndicator", {3}, {1, 3, 2}, 0.5},
      {"percentile_rank", "RollingPercentileRank", {4}, {1, 2, 2, 2}, 62.5},
      {"quantile_median", "RollingQuantile", {4, 0.5}, {4, 2, 1, 3}, 2.5},
      {"quantile_top", "RollingQuantile", {4, 1}, {4, 2, 1, 3}, 4},
      {"iqr", "RollingIqr", {4}, {4, 2, 1, 3}, 1.5},
      {"iqr_single", "RollingIqr", {1}, {4, 2}, 0},
      {"mad", "MedianAbsoluteDeviation", {5}, {100, 2, 1, 3, 4}, 1},
      {"mad_even", "MedianAbsoluteDeviation", {4}, {1, 2, 4, 10}, 1.5},
      {"autocorrelation_one_product", "Autocorrelation", {3, 2}, {1, 2, 3}, -0.5},
      {"hurst", "HurstExponent", {4, 2}, {1, 2, 3, 4}, std::log2(2 / std::sqrt(1.25))},
      {"shannon_two_bins", "ShannonEntropy", {4, 2}, {0, 1, 2, 3}, 1},
      {"shannon_last_bin_clamped", "ShannonEntropy", {4, 4}, {0, 1, 2, 3}, 2},
      {"shannon_more_bins_than_values", "ShannonEntropy", {4, 8}, {0, 1, 2, 3}, 2},
      {"shannon_uneven",
       "ShannonEntropy",
       {4, 2},
       {0, 0, 0, 3},
       -(0.75 * std::log2(0.75) + 0.25 * std::log2(0.25))},
      {"sample_entropy_no_continuation",
       "SampleEntropy",
       {6, 1, 0.01},
       {1, 7, 1, 9, 1, 3},
       std::log(3.0)},
      {"sample_entropy", "SampleEntropy", {6, 1, 0.01}, {1, 7, 1, 7, 2, 3}, std::log(2.0)},
      {"min_max", "RollingMinMaxScaler", {3}, {2, 6, 3}, 0.25},
      {"log_return", "LogReturn", {2}, {1, 0, -5, 2, 4}, std::log(4.0)},
      {"log_return_far_apart", "LogReturn", {1}, {1e-300, 1e300}, 600 * std::log(10.0)},
      {"log_return_far_apart_down", "LogReturn", {1}, {1e300, 1e-20}, -320 * std::log(10.0)},
      {"min_max_huge_range", "RollingMinMaxScaler", {2}, {-1.5e308, 1.5e308}, 1},
      {"quantile_huge_range", "RollingQuantile", {2, 0.5}, {-1.5e308, 1.5e308}, 0},
  };
  for (const auto& c : cases) {
    const Values v = run_closes(c.name, c.params, c.closes);
    ASSERT_FALSE(v.empty()) << c.id;
    ASSERT_TRUE(v.back().has_value()) << c.id;
    EXPECT_NEAR(*v.back(), c.want, 1e-12 * std::max(1.0, std::abs(c.want))) << c.id;
  }
}

// A window that has gone flat after movement has no spread at all. The running sums still hold
// rounding residue from the values that left, and six copies of 1.1 do not sum to exactly
// 6 * 1.1, so without recognising the flat window these ratios of residues came out as
// arbitrary numbers (skewness 16777216, kurtosis -7.6e15, R² 0, autocorrelation 5/6).
TEST(Statistics, FlatWindowAfterMovementHasNoSpread) {
  struct Case {
    const char* name;
    std::vector<double> params;
    std::vector<double> before;
    double want;
  };
  const Case cases[] = {
      {"Variance", {6}, {0.0, 2.1, 2.0}, 0},
      {"StdDev", {6}, {0.0, 2.1, 2.0}, 0},
      {"ZScore", {6}, {2.6}, 0},
      {"Skewness", {6}, {2.6}, 0},
      {"Kurtosis", {6}, {0.0, 2.1, 2.0}, 0},
      {"CoefficientOfVariation", {6}, {0.0, 2.1, 2.0}, 0},
      {"RSquared", {6}, {1.9, 0.1, 0.9}, 1},
      {"LinRegSlope", {6}, {1.9, 0.1, 0.9}, 0},
      {"Tsf", {6}, {1.9, 0.1, 0.9}, 1.1},
      {"Cfo", {6}, {1.9, 0.1, 0.9}, 0},
      {"JarqueBera", {6}, {0.5, 2.2, 0.7, 1.7, 0.9, 2.2, 3.0, 2.5}, 0},
      {"Autocorrelation", {6, 1}, {0.9, 3.0, 1.6, 0.0, 2.2, 0.6, 2.6, 1.4}, 0},
      {"HurstExponent", {12, 2}, {}, 0.5},
      {"CorrelationTrendIndicator", {6}, {0.3, 2.0}, 0},
      {"SampleEntropy", {6, 2, 0.2}, {0.3, 2.0}, 0},
  };
  for (const auto& c : cases) {
    std::vector<double> closes = c.before;
    closes.insert(closes.end(), static_cast<std::size_t>(c.params[0]), 1.1);
    const Values v = run_closes(c.name, c.params, closes);
    ASSERT_FALSE(v.empty()) << c.name;
    ASSERT_TRUE(v.back().has_value()) << c.name;
    EXPECT_EQ(*v.back(), c.want) << c.name;
  }
  // The same through the funding rate's rolling moments.
  auto ev = build("FundingRateZScore", {6});
  ASSERT_TRUE(ev);
  std::optional<double> last;
  for (double f : {2.6, 1.1, 1.1, 1.1, 1.1, 1.1, 1.1}) {
    const DerivativesTick t{f, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
    Candle candle{0, 1, 1, 1, 1, 1};
    StepContext ctx;
    ctx.candle = &candle;
    ctx.derivatives = &t;
    last = ev->update(ctx);
  }
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, 0.0);
}

// Swings beyond the double range overflow the power sums (the variance becomes inf - inf). The
// result must read as missing, not as a flat window: it used to be floored to a variance of 0.
TEST(Statistics, MomentsBeyondTheDoubleRangeAreMissingNotZero) {
  const std::vector<double> swings = {1e300, -1e300, 1e300, -1e300, 1e300};
  for (const char* name : {"Variance", "StdDev", "ZScore", "Skewness", "Kurtosis"}) {
    const Values v = run_closes(name, {4}, swings);
    ASSERT_EQ(v.size(), 5u) << name;
    ASSERT_TRUE(v.back().has_value()) << name;
    EXPECT_TRUE(std::isnan(*v.back())) << name << " gave " << *v.back();
  }
}

TEST(Statistics, MomentsAndRegressionMembersMatchPlainFormulas) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> closes;
  for (double p = 1000; closes.size() < 300;) closes.push_back(p += z(rng));
  // The members see the series with NaN gaps, which must be skipped without a trace.
  std::vector<double> gappy;
  std::vector<std::size_t> at;  // index into `gappy` of each clean close
  for (std::size_t i = 0; i < closes.size(); ++i) {
    if (i % 7 == 3) gappy.push_back(kNaN);
    at.push_back(gappy.size());
    gappy.push_back(closes[i]);
  }
  const std::size_t n = 17;
  const std::vector<std::string> names = {
      "Variance",       "Skewness",      "Kurtosis",
      "JarqueBera",     "LinRegSlope",   "Tsf",
      "RSquared",       "StandardError", "CorrelationTrendIndicator",
      "Autocorrelation"};
  for (const auto& name : names) {
    std::vector<double> params = {static_cast<double>(n)};
    if (name == "Autocorrelation") params.push_back(3);
    const Values v = run_closes(name, params, gappy);
    for (std::size_t i = 0; i < gappy.size(); ++i) {
      if (std::isnan(gappy[i])) {
        ASSERT_FALSE(v[i].has_value()) << name;
      }
    }
    for (std::size_t i = n - 1; i < closes.size(); ++i) {
      const Plain p = plain(closes, i + 1, n);
      const double sk = p.m3 / std::pow(p.var, 1.5), ku = p.m4 / (p.var * p.var) - 3;
      long double syy = 0, sac = 0;
      for (std::size_t j = i + 1 - n; j <= i; ++j) {
        syy += (closes[j] - p.mean) * (closes[j] - p.mean);
        if (j + 3 <= i) sac += (closes[j + 3] - p.mean) * (closes[j] - p.mean);
      }
      const double sxx = n * (n * n - 1.0) / 12;
      long double rss = 0;
      for (std::size_t j = i + 1 - n, t = 0; j <= i; ++j, ++t) {
        const long double r = closes[j] - (p.intercept + p.slope * t);
        rss += r * r;
      }
      double want = 0;
      if (name == "Variance") want = p.var;
      if (name == "Skewness") want = sk;
      if (name == "Kurtosis") want = ku;
      if (name == "JarqueBera") want = n / 6.0 * (sk * sk + ku * ku / 4);
      if (name == "LinRegSlope") want = p.slope;
      if (name == "Tsf") want = p.intercept + p.slope * n;
      if (name == "RSquared") want = p.slope * p.slope * sxx / static_cast<double>(syy);
      if (name == "StandardError") want = std::sqrt(static_cast<double>(rss) / (n - 2));
      if (name == "CorrelationTrendIndicator")
        want = p.slope * std::sqrt(sxx / static_cast<double>(syy));
      if (name == "Autocorrelation") want = static_cast<double>(sac / syy);
      ASSERT_TRUE(v[at[i]].has_value()) << name << " @" << i;
      EXPECT_NEAR(*v[at[i]], want, 1e-7 * std::max(1.0, std::abs(want))) << name << " @" << i;
    }
  }
}

// Sample entropy counts template matches along diagonals; the count must be that of the plain
// pairwise definition, ties at exactly r included (values on a coarse grid make them common).
TEST(Statistics, SampleEntropyMatchesPairwiseDefinition) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<int> grid(0, 6);
  std::vector<double> closes;
  for (int i = 0; i < 120; ++i) closes.push_back(grid(rng) * 0.5);
  auto pairwise = [](const double* x, std::size_t n, std::size_t m, double f) {
    long double s = 0;
    for (std::size_t i = 0; i < n; ++i) s += x[i];
    const double mean = static_cast<double>(s / n);
    double ss = -0.0;
    for (std::size_t i = 0; i < n; ++i) ss += (x[i] - mean) * (x[i] - mean);
    const double r = std::sqrt(ss / static_cast<double>(n)) * f;
    double a = 0, b = 0;
    for (std::size_t i = 0; i + m < n; ++i)
      for (std::size_t j = i + 1; j + m < n; ++j) {
        bool match = true;
        for (std::size_t d = 0; d < m; ++d) match = match && std::abs(x[i + d] - x[j + d]) <= r;
        if (!match) continue;
        ++b;
        if (std::abs(x[i + m] - x[j + m]) <= r) ++a;
      }
    if (b == 0) return 0.0;
    return a > 0 ? -std::log(a / b) : std::log(b);
  };
  struct Case {
    std::size_t n, m;
    double f;
  };
  for (const Case c : {Case{12, 1, 0.2}, Case{12, 2, 0.5}, Case{30, 3, 0.25}, Case{9, 7, 2.0},
                       Case{40, 2, 1e-9}, Case{20, 2, 1.0}}) {
    const Values v = run_closes("SampleEntropy",
                                {static_cast<double>(c.n), static_cast<double>(c.m), c.f}, closes);
    for (std::size_t i = c.n - 1; i < closes.size(); ++i) {
      ASSERT_TRUE(v[i].has_value());
      const double want = pairwise(closes.data() + i + 1 - c.n, c.n, c.m, c.f);
      EXPECT_NEAR(*v[i], want, 1e-12) << "n=" << c.n << " m=" << c.m << " @" << i;
    }
  }
}

TEST(Statistics, ZeroCloseKeepsOscillatorValueWhileFitAdvances) {
  // Cfo and TsfOscillator have no percentage of a zero close: the previous value repeats, and the
  // zero still enters the window (the next value matches a fresh fit over it).
  for (const char* name : {"Cfo", "TsfOscillator"}) {
    const Values v = run_closes(name, {3}, {1, 2, 4, 0, 5});
    ASSERT_TRUE(v[2] && v[3] && v[4]) << name;
    EXPECT_EQ(*v[3], *v[2]) << name;
    const Values fresh = run_closes(name, {3}, {4, 0, 5});
    EXPECT_NEAR(*v[4], *fresh[2], 1e-12) << name;
    EXPECT_FALSE(run_closes(name, {2}, {0, 0, 0}).back().has_value()) << name;
  }
}

TEST(Statistics, PolarizedFractalEfficiencySeedsWithMeanThenSmooths) {
  const Values v = run_closes("PolarizedFractalEfficiency", {2, 2}, {0, 1, 1, 3, 2});
  const double r2 = std::sqrt(2.0), r5 = std::sqrt(5.0);
  const double raw1 = std::sqrt(1.0 + 4) * 100 / (r2 + 1);   // closes 0, 1, 1
  const double raw2 = std::sqrt(4.0 + 4) * 100 / (1 + r5);   // closes 1, 1, 3
  const double raw3 = std::sqrt(1.0 + 4) * 100 / (r5 + r2);  // closes 1, 3, 2
  ASSERT_EQ(v.size(), 5u);
  EXPECT_FALSE(v[2].has_value());
  ASSERT_TRUE(v[3] && v[4]);
  const double seed = (raw1 + raw2) / 2;
  EXPECT_NEAR(*v[3], seed, 1e-12);
  EXPECT_NEAR(*v[4], 2.0 / 3 * raw3 + 1.0 / 3 * seed, 1e-12);
  // A falling window is negative.
  EXPECT_LT(*run_closes("PolarizedFractalEfficiency", {2, 1}, {5, 4, 2}).back(), 0);
  // One overflowing segment must not poison the path length after it has left the window.
  const Values big = run_closes("PolarizedFractalEfficiency", {2, 1}, {-1e308, 1e308, 1, 2, 3, 4});
  ASSERT_TRUE(big.back().has_value());
  EXPECT_NEAR(*big.back(), 100 * std::sqrt(8.0) / (2 * std::sqrt(2.0)), 1e-12);
}

TEST(Statistics, SeasonalZScoreSlotsByLocalHour) {
  struct Bar {
    std::int64_t ts;
    double close;
  };
  const std::int64_t day = 86400000;
  auto run = [](std::int32_t offset, const std::vector<Bar>& bars) {
    auto ev = build("SeasonalZScore", {static_cast<double>(offset)});
    Values out;
    for (const auto& b : bars) {
      Candle c{b.ts, b.close, b.close, b.close, b.close, 1};
      StepContext ctx;
      ctx.candle = &c;
      out.push_back(ev->update(ctx));
    }
    return out;
  };
  // Returns 0.1, 0.3, then 0.2 in one slot: z = (0.2 - 0.2) / sd = 0. Then 0.5 gives
  // (0.5 - 0.2) / 0.1 with mean 0.2 and sample sd 0.1 of the first three.
  auto same_slot = [&](std::int64_t first, std::int64_t step) {
    std::vector<Bar> bars = {{first - 1000, 100}};
    const double closes[] = {110, 143, 171.6, 257.4};
    for (int i = 0; i < 4; ++i) bars.push_back({first + i * step, closes[i]});
    return bars;
  };
  struct Case {
    const char* id;
    std::int32_t offset;
    std::int64_t first;
  };
  // -1 ms is 23:59:59.999 of the day before; a truncating division would put it at hour 0.
  const Case cases[] = {
      {"before_epoch", 0, -1}, {"offset_east", 60, -3600001}, {"offset_west", -60, 0}};
  for (const auto& c : cases) {
    const Values v = run(c.offset, same_slot(c.first, day));
    ASSERT_EQ(v.size(), 5u) << c.id;
    EXPECT_FALSE(v[0] || v[1] || v[2]) << c.id;
    ASSERT_TRUE(v[3] && v[4]) << c.id;
    EXPECT_NEAR(*v[3], 0, 1e-12) << c.id;
    EXPECT_NEAR(*v[4], 3, 1e-9) << c.id;
  }
  // Returns in other hours do not count: hourly bars never fill a slot within a day.
  const Values hourly = run(0, same_slot(0, 3600000));
  for (const auto& x : hourly) EXPECT_FALSE(x.has_value());
}

// ---------------------------------------------------------------------------------------------
// Derivatives

struct TickCase {
  const char* id;
  const char* name;
  std::vector<double> params;
  std::vector<DerivativesTick> ticks;  // a tick with a NaN funding rate stands for "no tick"
  double want;
  std::vector<double> extras = {};
};

DerivativesTick tick(double funding, double mark, double index, double futures, double oi,
                     double long_size = 1, double short_size = 1, double buy = 1, double sell = 1,
                     double long_liq = 0, double short_liq = 0) {
  return {funding,    mark, index, futures,  oi,        long_size,
          short_size, buy,  sell,  long_liq, short_liq, 0};
}

TEST(Derivatives, NumericExamples) {
  const DerivativesTick gap = tick(kNaN, 1, 1, 1, 0);
  const TickCase cases[] = {
      {"funding_rate", "FundingRate", {}, {tick(0.0003, 1, 1, 1, 0)}, 0.0003},
      {"implied_apr", "FundingImpliedApr", {1095}, {tick(0.0001, 1, 1, 1, 0)}, 0.1095},
      {"funding_mean",
       "FundingRateMean",
       {3},
       {tick(1, 1, 1, 1, 0), tick(2, 1, 1, 1, 0), tick(6, 1, 1, 1, 0), tick(7, 1, 1, 1, 0)},
       5},
      {"funding_zscore_flat",
       "FundingRateZScore",
       {3},
       {tick(2, 1, 1, 1, 0), tick(2, 1, 1, 1, 0), tick(2, 1, 1, 1, 0)},
       0},
      {"funding_zscore",
       "FundingRateZScore",
       {3},
       {tick(1, 1, 1, 1, 0), tick(2, 1, 1, 1, 0), tick(6, 1, 1, 1, 0)},
       3 / std::sqrt(14.0 / 3)},
      {"funding_basis", "FundingBasis", {}, {tick(0, 101, 100, 1, 0)}, 0.01},
      {"premium_index", "PerpetualPremiumIndex", {}, {tick(0, 99, 100, 1, 0)}, -0.01},
      {"term_basis", "TermStructureBasis", {}, {tick(0, 1, 100, 102, 0)}, 0.02},
      {"calendar_spread", "CalendarSpread", {}, {tick(0, 50, 1, 51, 0)}, 0.02},
      {"oi_delta_across_gap",
       "OpenInterestDelta",
       {},
       {tick(0, 1, 1, 1, 10), gap, gap, tick(0, 1, 1, 1, 4)},
       -6},
      {"oi_momentum",
       "OpenInterestMomentum",
       {2},
       {tick(0, 1, 1, 1, 100), tick(0, 1, 1, 1, 50), tick(0, 1, 1, 1, 150)},
       50},
      {"oi_momentum_zero_start",
       "OpenInterestMomentum",
       {2},
       {tick(0, 1, 1, 1, 0), tick(0, 1, 1, 1, 50), tick(0, 1, 1, 1, 150)},
       0},
      {"oi_divergence_consecutive",
       "OIPriceDivergence",
       {1},
       {tick(0, 10, 1, 1, 100), tick(0, 11, 1, 1, 120)},
       0.1},
      {"oi_divergence_zero_oi",
       "OIPriceDivergence",
       {1},
       {tick(0, 10, 1, 1, 0), tick(0, 11, 1, 1, 120)},
       -0.1},
      {"oi_weighted", "OIWeighted", {}, {tick(0, 10, 1, 1, 1), gap, tick(0, 20, 1, 1, 3)}, 17.5},
      {"oi_weighted_no_oi", "OIWeighted", {}, {tick(0, 10, 1, 1, 0), tick(0, 12, 1, 1, 0)}, 12},
      {"oi_to_volume", "OiToVolumeRatio", {}, {tick(0, 1, 1, 1, 10, 1, 1, 3, 2)}, 2},
      {"oi_to_volume_no_volume", "OiToVolumeRatio", {}, {tick(0, 1, 1, 1, 10, 1, 1, 0, 0)}, 0},
      {"leverage", "EstimatedLeverageRatio", {}, {tick(0, 1, 1, 1, 10, 3, 1)}, 2.5},
      {"leverage_no_positions", "EstimatedLeverageRatio", {}, {tick(0, 1, 1, 1, 10, 0, 0)}, 0},
      {"long_short", "LongShortRatio", {}, {tick(0, 1, 1, 1, 0, 3, 2)}, 1.5},
      {"long_short_no_shorts", "LongShortRatio", {}, {tick(0, 1, 1, 1, 0, 3, 0)}, 0},
      {"taker_ratio", "TakerBuySellRatio", {}, {tick(0, 1, 1, 1, 0, 1, 1, 3, 4)}, 0.75},
      {"taker_ratio_no_sells", "TakerBuySellRatio", {}, {tick(0, 1, 1, 1, 0, 1, 1, 3, 0)}, 0},
      {"liquidations",
       "LiquidationFeatures",
       {},
       {tick(0, 1, 1, 1, 0, 1, 1, 1, 1, 3, 1)},
       3,
       {3, 1, 2, 4, 0.5}},
      {"liquidations_none",
       "LiquidationFeatures",
       {},
       {tick(0, 1, 1, 1, 0, 1, 1, 1, 1, 3, 1), tick(0, 1, 1, 1, 0)},
       0,
       {0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    auto ev = build(c.name, c.params);
    ASSERT_TRUE(ev) << c.id;
    Candle candle{0, 1, 1, 1, 1, 1};
    std::optional<double> last;
    for (const auto& t : c.ticks) {
      StepContext ctx;
      ctx.candle = &candle;
      if (!std::isnan(t.funding_rate)) ctx.derivatives = &t;
      last = ev->update(ctx);
      if (!ctx.derivatives) {
        ASSERT_FALSE(last.has_value()) << c.id;
      }
    }
    ASSERT_TRUE(last.has_value()) << c.id;
    EXPECT_NEAR(*last, c.want, 1e-12 * std::max(1.0, std::abs(c.want))) << c.id;
    auto x = ev->extras();
    ASSERT_EQ(x.size(), c.extras.size()) << c.id;
    for (std::size_t i = 0; i < x.size(); ++i)
      EXPECT_EQ(x[i], c.extras[i]) << c.id << " extra " << i;
  }
}

}  // namespace
}  // namespace ostrel
