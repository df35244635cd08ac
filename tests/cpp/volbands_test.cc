// Volatility estimators, bands and channels: the shared cores against plain recomputations on
// random and adversarial series, the members against straightforward two-pass formulas with
// invalid steps mixed in, hand-checked examples, and every construction error text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ostrel-core/numeric/calendar_day.h"
#include "ostrel-core/numeric/least_squares_line.h"
#include "ostrel-core/numeric/order_selection.h"
#include "ostrel-core/numeric/quantile.h"
#include "ostrel-core/numeric/running_variance.h"
#include "ostrel-core/numeric/sort_ascending.h"
#include "ostrel-core/numeric/window_sum.h"
#include "ostrel-core/registry.h"
#include "test_support.h"

namespace ostrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool close_enough(double got, double want, double rel = 1e-9, double abs = 1e-12) {
  if (std::isnan(want)) return std::isnan(got);
  return std::fabs(got - want) <= abs + rel * std::fabs(want);
}

// ------------------------------------------------------------------------------- cores

std::vector<double> series(const std::string& kind, std::size_t n) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double e = z(rng);
    if (kind == "random") v[i] = 100.0 + 5.0 * e;
    if (kind == "flat") v[i] = 42.5;
    if (kind == "huge_offset") v[i] = 1e12 + e;  // variance 1 on top of 1e12
    if (kind == "tiny") v[i] = 1e-300 * (1.0 + 0.1 * e);
    if (kind == "alternating") v[i] = (i % 2 ? -1e6 : 1e6) + e;
    if (kind == "level_shift") v[i] = (i < n / 2 ? 1e8 : -3.0) + e;  // shift leaves the window
  }
  return v;
}

double two_pass_mean(std::span<const double> w) {
  double s = 0;
  for (double x : w) s += x;
  return s / static_cast<double>(w.size());
}
double sum_sq_dev(std::span<const double> w) {
  const double m = two_pass_mean(w);
  double ss = 0;
  for (double x : w) ss += (x - m) * (x - m);
  return ss;
}
double sample_var(std::span<const double> w) { return sum_sq_dev(w) / (w.size() - 1.0); }
double population_var(std::span<const double> w) { return sum_sq_dev(w) / w.size(); }

TEST(VolbandsCores, ShiftedVarianceMatchesTwoPass) {
  for (const char* kind : {"random", "flat", "huge_offset", "tiny", "alternating", "level_shift"}) {
    for (std::size_t n : {2u, 5u, 32u}) {
      const auto xs = series(kind, 300);
      numeric::ShiftedRunningVariance v(n);
      for (std::size_t i = 0; i < xs.size(); ++i) {
        v.push(xs[i]);
        if (i + 1 < n) continue;
        std::span<const double> w(xs.data() + i + 1 - n, n);
        double scale = 1e-300, spread = 1e-300;
        for (double x : w) {
          scale = std::max(scale, std::fabs(x));
          spread = std::max(spread, std::fabs(x - v.shift()));
        }
        // The sums hold deviations from the shift, so their rounding is relative to how far the
        // window sits from it; after a jump in level that lasts until the next re-centring.
        const double floor = spread * spread * 1e-14 + (scale * 1e-15) * (scale * 1e-15) * 64;
        ASSERT_TRUE(close_enough(v.sample_variance(), sample_var(w), 1e-8, floor))
            << kind << " n=" << n << " at " << i;
        ASSERT_TRUE(close_enough(v.population_variance(), population_var(w), 1e-8, floor))
            << kind << " n=" << n << " at " << i;
        ASSERT_TRUE(close_enough(v.mean(), two_pass_mean(w), 1e-12, (scale + spread) * 1e-14))
            << kind;
        ASSERT_GE(v.sample_variance(), 0.0);
      }
    }
  }
}

TEST(VolbandsCores, RunningWindowSumMatchesNaive) {
  for (const char* kind : {"random", "alternating", "tiny"}) {
    const auto xs = series(kind, 200);
    numeric::RunningWindowSum s(7);
    for (std::size_t i = 0; i < xs.size(); ++i) {
      s.push(xs[i]);
      const std::size_t from = i + 1 >= 7 ? i + 1 - 7 : 0;
      double want = 0;
      for (std::size_t j = from; j <= i; ++j) want += xs[j];
      const double mag = std::fabs(xs[i]) * 8;
      ASSERT_TRUE(close_enough(s.sum(), want, 1e-12, mag * 1e-12)) << kind << " at " << i;
    }
  }
}

TEST(VolbandsCores, LocalDayUsesFloorDivisionAndGregorianDates) {
  struct Case {
    std::int64_t ts;
    std::int32_t offset;
    std::int64_t year;
    unsigned month, day, hour;
  };
  const Case cases[] = {
      {0, 0, 1970, 1, 1, 0},
      {-1, 0, 1969, 12, 31, 23},              // one millisecond before the epoch
      {-86400000, 0, 1969, 12, 31, 0},        // exactly one day before
      {951782400000, 0, 2000, 2, 29, 0},      // leap day of a 400-year leap year
      {-2203891200000, 0, 1900, 3, 1, 0},     // 1900 is not a leap year
      {1700000000000, 0, 2023, 11, 14, 22},
      {1700000000000, 106, 2023, 11, 14, 23},  // 23:59:20 local
      {1700000000000, 107, 2023, 11, 15, 0},
      {1700000000000, -1380, 2023, 11, 13, 23},
      {0, -1, 1969, 12, 31, 23},
      // The extremes, checked by shifting whole 400-year cycles into an ordinary date library.
      {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int32_t>::min(),
       -292279138, 4, 23, 14},
      {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int32_t>::max(),
       292283077, 9, 9, 9},
  };
  for (const auto& c : cases) {
    const auto d = numeric::local_day(c.ts, c.offset);
    const auto date = d.date();
    EXPECT_EQ(date.year, c.year) << c.ts << " " << c.offset;
    EXPECT_EQ(date.month, c.month) << c.ts << " " << c.offset;
    EXPECT_EQ(date.day, c.day) << c.ts << " " << c.offset;
    EXPECT_EQ(d.hour, c.hour) << c.ts << " " << c.offset;
  }
  // Day numbers and dates agree across a long span of consecutive days.
  numeric::CivilDate prev = numeric::civil_from_days(-800000);
  for (std::int64_t day = -799999; day < 800000; ++day) {
    const auto d = numeric::civil_from_days(day);
    const bool next_day = d.year == prev.year && d.month == prev.month && d.day == prev.day + 1;
    const bool next_month =
        d.day == 1 && ((d.year == prev.year && d.month == prev.month + 1) ||
                       (d.year == prev.year + 1 && d.month == 1 && prev.month == 12));
    ASSERT_TRUE(next_day || next_month) << day;
    prev = d;
  }
}

TEST(VolbandsCores, LeastSquaresLineMatchesNaiveFit) {
  for (const char* kind : {"random", "huge_offset", "alternating", "flat"}) {
    for (std::size_t n : {2u, 3u, 10u, 64u}) {
      const auto ys = series(kind, n);
      numeric::Ring<double> win(n);
      for (double y : ys) win.push(y);
      const auto fit = numeric::LeastSquaresLine(n).fit(win);
      const double xm = (n - 1) / 2.0, ym = two_pass_mean(ys);
      double sxy = 0, sxx = 0;
      for (std::size_t i = 0; i < n; ++i) {
        sxy += (i - xm) * (ys[i] - ym);
        sxx += (i - xm) * (i - xm);
      }
      const double b = sxy / sxx, a = ym - b * xm;
      const double scale = std::max(1.0, std::fabs(ym));
      EXPECT_TRUE(close_enough(fit.slope, b, 1e-7, scale * 1e-13)) << kind << n;
      EXPECT_TRUE(close_enough(fit.at(n - 1.0), a + b * (n - 1.0), 1e-12, scale * 1e-13))
          << kind << n;
    }
  }
}

TEST(VolbandsCores, SortAscendingOrdersNanLastAtEverySize) {
  for (std::size_t n : {1u, 2u, 20u, 21u, 200u}) {
    std::vector<double> v(n);
    std::mt19937_64 rng(n);
    std::uniform_real_distribution<double> u(-1, 1);
    for (auto& x : v) x = u(rng);
    for (std::size_t i = 0; i < n; i += 3) v[i] = kNaN;
    numeric::sort_ascending(v);
    const auto first_nan = std::find_if(v.begin(), v.end(), [](double x) { return std::isnan(x); });
    EXPECT_TRUE(std::is_sorted(v.begin(), first_nan));
    EXPECT_TRUE(std::all_of(first_nan, v.end(), [](double x) { return std::isnan(x); }));
  }
}

TEST(VolbandsCores, SelectedQuantileEqualsSortedQuantile) {
  std::mt19937_64 rng(3);
  std::uniform_int_distribution<int> small(-4, 4);  // many ties
  std::normal_distribution<double> z(0, 1);
  for (std::size_t m = 1; m <= 45; ++m) {
    for (int rep = 0; rep < 20; ++rep) {
      std::vector<double> v(m);
      for (auto& x : v) x = rep % 2 ? small(rng) : z(rng);
      auto sorted = v;
      std::sort(sorted.begin(), sorted.end());
      for (double q : {0.0, 0.25, 0.5, 0.85, 0.999, 1.0}) {
        auto sel = v;
        numeric::select_for_quantile(sel, q);
        ASSERT_EQ(numeric::interpolated_quantile(sel, q), numeric::interpolated_quantile(sorted, q))
            << "m=" << m << " q=" << q;
        if (q == 0.5) {
          ASSERT_EQ(numeric::sorted_median(sel), numeric::sorted_median(sorted)) << m;
        }
      }
    }
  }
}

// ------------------------------------------------------------------------------- members

EvaluatorPtr build(std::string_view name, std::vector<double> params) {
  auto r = Registry::instance().build(name, params);
  EXPECT_TRUE(r.has_value()) << name << ": " << (r ? "" : r.error().display());
  return r ? std::move(r).value() : nullptr;
}

std::optional<double> feed(Evaluator& ev, const Candle& c) {
  StepContext ctx;
  ctx.candle = &c;
  return ev.update(ctx);
}

Candle bar(double o, double h, double l, double c, double v = 1, std::int64_t ts = 0) {
  return {ts, o, h, l, c, v};
}
Candle at_close(double c) { return bar(c, c, c, c); }

// Outputs of a member: main value then extras, or nothing.
using Out = std::optional<std::vector<double>>;

std::vector<Out> run(std::string_view name, std::vector<double> params,
                     const std::vector<Candle>& input) {
  auto ev = build(name, params);
  std::vector<Out> out;
  if (!ev) return out;
  for (const auto& c : input) {
    const auto v = feed(*ev, c);
    if (!v) {
      out.emplace_back();
      continue;
    }
    std::vector<double> row{*v};
    for (double x : ev->extras()) row.push_back(x);
    out.emplace_back(row);
  }
  return out;
}

struct Example {
  const char* what;
  const char* name;
  std::vector<double> params;
  std::vector<Candle> input;
  // Per step: nothing, or the expected main value followed by any extras to check.
  std::vector<std::optional<std::vector<double>>> want;
};

std::vector<Candle> closes(std::initializer_list<double> xs) {
  std::vector<Candle> v;
  for (double x : xs) v.push_back(at_close(x));
  return v;
}

constexpr auto kNone = std::nullopt;
using V = std::vector<double>;

TEST(Volbands, HandCheckedExamples) {
  const double sd123 = std::sqrt(2.0 / 3.0);
  const std::int64_t day = 86400000;
  const Example cases[] = {
      // True ranges 2, 4, 6, 3 (the first is high - low).
      {"atr seeds with the mean then smooths", "Atr", {3},
       {bar(10, 11, 9, 10), bar(10, 13, 9, 12), bar(12, 14, 8, 9), bar(9, 12, 9, 10)},
       {kNone, kNone, V{4}, V{(4.0 * 2 + 3) / 3}}},
      {"natr is 0 on a zero close", "Natr", {1}, {bar(0, 1, 0, 0)}, {V{0}}},
      {"high-low range is 0 on a zero close", "HighLowRange", {}, {bar(0, 1, 0, 0)}, {V{0}}},
      {"historical volatility needs three closes; flat gives 0", "HistoricalVolatility",
       {2, 252}, closes({5, 5, 5, 5}), {kNone, kNone, V{0}, V{0}}},
      {"jump indicator on a flat series is 0", "JumpIndicator", {2, 1},
       closes({3, 3, 3, 3, 3}), {kNone, kNone, kNone, V{0}, V{0}}},
      // After the moves the window of three zero returns keeps a rounding residue in its
      // running sums; the small move that follows is still no jump against a flat window.
      {"jump indicator after a flat run is 0", "JumpIndicator", {3, 0.5},
       closes({57, 26.3, 76.3, 76.3, 76.3, 76.3, 76.3001}),
       {kNone, kNone, kNone, kNone, V{0}, V{-1}, V{0}}},
      {"garch answers the unconditional stdev on the second close", "Garch11", {0.01, 0.1, 0.8},
       closes({100, 250, 10}),
       {kNone, V{std::sqrt(0.01 / (1 - 0.1 - 0.8))},
        V{std::sqrt(0.01 + 0.1 * std::log(2.5) * std::log(2.5) + 0.8 * 0.1)}}},
      {"rvi on a constant series is 50", "RviVolatility", {2}, closes({7, 7, 7, 7}),
       {kNone, kNone, V{50}, V{50}}},
      // 1e200 overflows the squared deviations of its two windows: no value there, and the
      // up and down averages stay in step (stdevs 0.5, 0.5, 0.5, 1 from close 5 on).
      {"rvi skips windows whose squared deviations overflow", "RviVolatility", {2},
       closes({1, 2, 3, 1e200, 4, 5, 6, 5, 7}),
       {kNone, kNone, V{100}, kNone, kNone, V{100}, V{100}, V{50}, V{100 * 0.625 / 0.75}}},
      // Returns 0, ln 2, 0, ln 2, 0: vols (w = 2) are s, s, s, s with s = ln2/sqrt2; then a big
      // move makes the current volatility the window maximum.
      {"cone: even lookback median and percentile 100 at the maximum", "VolatilityCone", {2, 2},
       {at_close(1), at_close(1), at_close(2), at_close(2), at_close(16)},
       {kNone, kNone, kNone,
        V{std::log(2.0) / std::sqrt(2.0), std::log(2.0) / std::sqrt(2.0),
          std::log(2.0) / std::sqrt(2.0), std::log(2.0) / std::sqrt(2.0),
          std::log(2.0) / std::sqrt(2.0), 100},
        V{3 * std::log(2.0) / std::sqrt(2.0), 3 * std::log(2.0) / std::sqrt(2.0),
          std::log(2.0) / std::sqrt(2.0), 2 * std::log(2.0) / std::sqrt(2.0),
          3 * std::log(2.0) / std::sqrt(2.0), 100}}},
      {"cone repeats its last answer on a non-positive close", "VolatilityCone", {2, 2},
       {at_close(1), at_close(1), at_close(2), at_close(2), bar(-1, 0, -1, 0)},
       {kNone, kNone, kNone, V{std::log(2.0) / std::sqrt(2.0)}, V{std::log(2.0) / std::sqrt(2.0)}}},
      {"daily range: nothing on day one, day one's range on day two", "AverageDailyRange", {2, 0},
       {bar(10, 12, 9, 11, 1, 0), bar(11, 15, 10, 12, 1, 3600000), bar(12, 13, 11, 12, 1, day),
        bar(12, 20, 11, 12, 1, day + 1), bar(5, 6, 5, 5, 1, 2 * day),
        bar(5, 6, 5, 5, 1, 0) /* back to an earlier date: another new day */},
       {kNone, kNone, V{6}, V{6}, V{(6.0 + 9) / 2}, V{(9.0 + 1) / 2}}},
      {"bollinger on 1, 2, 3", "BollingerBands", {3, 2}, closes({1, 2, 3}),
       {kNone, kNone, V{2 + 2 * sd123, 2 + 2 * sd123, 2, 2 - 2 * sd123, sd123}}},
      {"%B of a constant series is 0.5", "PercentB", {3, 2}, closes({4, 4, 4}),
       {kNone, kNone, V{0.5}}},
      {"bandwidth is 0 when the mean is 0", "BollingerBandwidth", {2, 2}, closes({-1, 1}),
       {kNone, V{0}}},
      {"double bollinger orders its five bands", "DoubleBollinger", {3, 1, 2}, closes({1, 2, 3}),
       {kNone, kNone, V{2 + 2 * sd123, 2 + 2 * sd123, 2 + sd123, 2, 2 - sd123, 2 - 2 * sd123}}},
      {"quartile bands of 1..4", "QuartileBands", {4}, closes({1, 2, 3, 4}),
       {kNone, kNone, kNone, V{3.25, 3.25, 2.5, 1.75}}},
      {"standard error bands on collinear closes collapse", "StandardErrorBands", {3, 2},
       closes({1, 3, 5, 7}), {kNone, kNone, V{5, 5, 5, 5}, V{7, 7, 7, 7}}},
      {"vwap bands: no value without volume, zero width on the first volume", "VwapStdDevBands",
       {2}, {bar(10, 11, 9, 10, 0), bar(10, 13, 10, 10, 5), bar(10, 13, 10, 13, 5)},
       {kNone, V{11, 11, 11, 11, 0}, V{12.5, 12.5, 11.5, 10.5, 0.5}}},
      // Step 3: the middle high ties the first, so no fractal high, while its low is a fractal
      // low; nothing is answered until step 5 confirms a fractal high. Step 7 moves the low.
      {"fractal bands need a strict high and a low", "FractalChaosBands", {1},
       {bar(5, 6, 4, 5), bar(5, 6, 3, 5), bar(5, 5, 4, 5), bar(5, 9, 4, 5), bar(5, 5, 4, 5),
        bar(5, 6, 2, 5), bar(5, 7, 4, 5)},
       {kNone, kNone, kNone, kNone, V{9, 9, 3}, V{9, 9, 3}, V{9, 9, 2}}},
      {"envelope with a fraction above 1 crosses zero", "MaEnvelope", {1, 2}, closes({10}),
       {V{30, 30, 10, -10}}},
  };
  for (const auto& c : cases) {
    const auto got = run(c.name, c.params, c.input);
    ASSERT_EQ(got.size(), c.want.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].has_value(), c.want[i].has_value()) << c.what << " @" << i;
      if (!got[i]) continue;
      ASSERT_GE(got[i]->size(), c.want[i]->size()) << c.what << " @" << i;
      for (std::size_t j = 0; j < c.want[i]->size(); ++j)
        EXPECT_TRUE(close_enough((*got[i])[j], (*c.want[i])[j], 1e-12, 1e-12))
            << c.what << " @" << i << " output " << j << ": " << (*got[i])[j] << " vs "
            << (*c.want[i])[j];
    }
  }
}

// A deviation of 3e300 from the shift squares past the largest double while the mean deviation
// squared does too, so the window (or cumulative) variance is NaN. The spread must come out
// missing, not clamped to 0 as if the series were flat.
TEST(Volbands, OverflowedSpreadIsMissingNotZero) {
  const struct {
    const char* name;
    std::vector<double> params;
    std::vector<Candle> input;
    std::size_t output;  // 0 = main value, then the extras in order
  } cases[] = {
      {"BollingerBands", {2, 2}, closes({0, 0, 3e300}), 4},
      {"BollingerBands", {2, 2}, closes({0, 0, 3e300}), 0},
      {"DoubleBollinger", {2, 1, 2}, closes({0, 0, 3e300}), 2},
      {"BollingerBandwidth", {2, 2}, closes({0, 0, 3e300}), 0},
      {"PercentB", {2, 2}, closes({0, 0, 3e300}), 0},
      {"VwapStdDevBands", {2}, closes({0, 0, 3e300}), 4},
  };
  for (const auto& c : cases) {
    const auto got = run(c.name, c.params, c.input);
    ASSERT_EQ(got.size(), 3u) << c.name;
    ASSERT_TRUE(got[2].has_value()) << c.name;
    ASSERT_GT(got[2]->size(), c.output) << c.name;
    EXPECT_TRUE(std::isnan((*got[2])[c.output])) << c.name << " output " << c.output << " is "
                                                 << (*got[2])[c.output];
  }
}

// Straightforward two-pass formulas over the history of accepted candles (newest last).
using Reference = std::function<Out(const std::vector<Candle>&)>;

std::vector<double> log_returns(const std::vector<Candle>& h) {
  std::vector<double> r;
  for (std::size_t i = 1; i < h.size(); ++i) r.push_back(std::log(h[i].close / h[i - 1].close));
  return r;
}
std::vector<double> last(const std::vector<double>& v, std::size_t n) {
  return {v.end() - static_cast<std::ptrdiff_t>(n), v.end()};
}
std::vector<Candle> last(const std::vector<Candle>& v, std::size_t n) {
  return {v.end() - static_cast<std::ptrdiff_t>(n), v.end()};
}
std::vector<double> field(const std::vector<Candle>& v, double Candle::*f) {
  std::vector<double> out;
  for (const auto& c : v) out.push_back(c.*f);
  return out;
}
double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double h = q * (v.size() - 1.0);
  const auto j = static_cast<std::size_t>(std::floor(h));
  return j + 1 < v.size() ? v[j] + (v[j + 1] - v[j]) * (h - j) : v.back();
}
double ols_slope(const std::vector<double>& y) {
  const double n = y.size(), xm = (n - 1) / 2, ym = two_pass_mean(y);
  double sxy = 0, sxx = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    sxy += (i - xm) * (y[i] - ym);
    sxx += (i - xm) * (i - xm);
  }
  return sxy / sxx;
}
Out bands(double u, double m, double l) { return V{u, u, m, l}; }

Out regression_bands(const std::vector<double>& y, double k, double dof) {
  const double n = y.size(), b = ols_slope(y), a = two_pass_mean(y) - b * (n - 1) / 2;
  double ss = 0;
  for (std::size_t i = 0; i < y.size(); ++i) ss += (y[i] - (a + b * i)) * (y[i] - (a + b * i));
  const double mid = a + b * (n - 1), sd = std::sqrt(ss / (n - dof));
  return bands(mid + k * sd, mid, mid - k * sd);
}

struct Recomputed {
  const char* name;
  std::vector<double> params;
  Reference ref;
};

std::vector<Recomputed> references() {
  const double ppy = 365;
  const double root = std::sqrt(ppy) * 100;
  std::vector<Recomputed> v;
  v.push_back({"HistoricalVolatility", {10, ppy}, [=](const auto& h) -> Out {
                 const auto r = log_returns(h);
                 if (r.size() < 10) return {};
                 return V{root * std::sqrt(sample_var(last(r, 10)))};
               }});
  v.push_back({"RealizedVolatility", {10}, [](const auto& h) -> Out {
                 const auto r = log_returns(h);
                 if (r.size() < 10) return {};
                 double s = 0;
                 for (double x : last(r, 10)) s += x * x;
                 return V{std::sqrt(s)};
               }});
  v.push_back({"BipowerVariation", {10}, [](const auto& h) -> Out {
                 const auto r = log_returns(h);
                 if (r.size() < 10) return {};
                 const auto w = last(r, 10);
                 double s = 0;
                 for (std::size_t i = 1; i < w.size(); ++i) s += std::fabs(w[i] * w[i - 1]);
                 return V{1.5707963267948966 * s};
               }});
  v.push_back({"VolatilityOfVolatility", {5, 4}, [](const auto& h) -> Out {
                 const auto r = log_returns(h);
                 if (r.size() < 5 + 4 - 1) return {};
                 std::vector<double> vols;
                 for (std::size_t end = r.size() - 3; end <= r.size(); ++end)
                   vols.push_back(std::sqrt(sample_var({r.begin() + end - 5, r.begin() + end})));
                 return V{std::sqrt(sample_var(vols))};
               }});
  v.push_back({"VolatilityCone", {5, 6}, [](const auto& h) -> Out {
                 const auto r = log_returns(h);
                 if (r.size() < 5 + 6 - 1) return {};
                 std::vector<double> vols;
                 for (std::size_t end = r.size() - 5; end <= r.size(); ++end)
                   vols.push_back(std::sqrt(sample_var({r.begin() + end - 5, r.begin() + end})));
                 const double cur = vols.back();
                 auto s = vols;
                 std::sort(s.begin(), s.end());
                 const double at_most =
                     std::count_if(s.begin(), s.end(), [&](double x) { return x <= cur; });
                 return V{cur, cur, s.front(), (s[2] + s[3]) / 2, s.back(), 100 * at_most / 6};
               }});
  v.push_back({"ParkinsonVolatility", {8, ppy}, [=](const auto& h) -> Out {
                 if (h.size() < 8) return {};
                 double s = 0;
                 for (const auto& c : last(h, 8)) s += std::pow(std::log(c.high / c.low), 2);
                 return V{root * std::sqrt(s * 0.3606737602222412 / 8)};
               }});
  v.push_back({"GarmanKlassVolatility", {8, ppy}, [=](const auto& h) -> Out {
                 if (h.size() < 8) return {};
                 double s = 0;
                 for (const auto& c : last(h, 8))
                   s += 0.5 * std::pow(std::log(c.high / c.low), 2) -
                        (2 * std::log(2.0) - 1) * std::pow(std::log(c.close / c.open), 2);
                 return V{root * std::sqrt(std::max(0.0, s / 8))};
               }});
  v.push_back({"RogersSatchellVolatility", {8, ppy}, [=](const auto& h) -> Out {
                 if (h.size() < 8) return {};
                 double s = 0;
                 for (const auto& c : last(h, 8))
                   s += std::log(c.high / c.close) * std::log(c.high / c.open) +
                        std::log(c.low / c.close) * std::log(c.low / c.open);
                 return V{root * std::sqrt(std::max(0.0, s / 8))};
               }});
  v.push_back({"YangZhangVolatility", {8, ppy}, [=](const auto& h) -> Out {
                 if (h.size() < 9) return {};
                 std::vector<double> o, c;
                 double rs = 0;
                 for (std::size_t i = h.size() - 8; i < h.size(); ++i) {
                   const auto& b = h[i];
                   o.push_back(std::log(b.open / h[i - 1].close));
                   c.push_back(std::log(b.close / b.open));
                   rs += std::log(b.high / b.close) * std::log(b.high / b.open) +
                         std::log(b.low / b.close) * std::log(b.low / b.open);
                 }
                 const double k = 0.34 / (9.0 / 7.0 + 1.34);
                 const double var =
                     sample_var(o) + k * sample_var(c) + (1 - k) * std::max(0.0, rs / 8);
                 return V{root * std::sqrt(std::max(0.0, var))};
               }});
  v.push_back({"BollingerBands", {12, 2}, [](const auto& h) -> Out {
                 if (h.size() < 12) return {};
                 const auto w = last(field(h, &Candle::close), 12);
                 const double m = two_pass_mean(w), sd = std::sqrt(population_var(w));
                 return V{m + 2 * sd, m + 2 * sd, m, m - 2 * sd, sd};
               }});
  v.push_back({"LinRegChannel", {12, 2}, [](const auto& h) -> Out {
                 if (h.size() < 12) return {};
                 return regression_bands(last(field(h, &Candle::close), 12), 2, 0);
               }});
  v.push_back({"StandardErrorBands", {12, 2}, [](const auto& h) -> Out {
                 if (h.size() < 12) return {};
                 return regression_bands(last(field(h, &Candle::close), 12), 2, 2);
               }});
  v.push_back({"MedianChannel", {11, 1.5}, [](const auto& h) -> Out {
                 if (h.size() < 11) return {};
                 const auto w = last(field(h, &Candle::close), 11);
                 const double c = quantile(w, 0.5);
                 std::vector<double> dev;
                 for (double x : w) dev.push_back(std::fabs(x - c));
                 const double mad = quantile(dev, 0.5);
                 return bands(c + 1.5 * mad, c, c - 1.5 * mad);
               }});
  v.push_back({"QuartileBands", {25}, [](const auto& h) -> Out {
                 if (h.size() < 25) return {};
                 const auto w = last(field(h, &Candle::close), 25);
                 return bands(quantile(w, 0.75), quantile(w, 0.5), quantile(w, 0.25));
               }});
  v.push_back({"BomarBands", {22, 0.8}, [](const auto& h) -> Out {
                 if (h.size() < 22) return {};
                 const auto w = last(field(h, &Candle::close), 22);
                 const double g = two_pass_mean(w);
                 std::vector<double> dev;
                 for (double x : w) dev.push_back(std::fabs((x - g) / std::fabs(g)));
                 const double o = quantile(dev, 0.8);
                 return bands(g + std::fabs(g) * o, g, g - std::fabs(g) * o);
               }});
  v.push_back({"Donchian", {9}, [](const auto& h) -> Out {
                 if (h.size() < 9) return {};
                 const auto hi = last(field(h, &Candle::high), 9);
                 const auto lo = last(field(h, &Candle::low), 9);
                 const double u = *std::max_element(hi.begin(), hi.end());
                 const double l = *std::min_element(lo.begin(), lo.end());
                 return bands(u, (u + l) / 2, l);
               }});
  v.push_back({"HurstChannel", {9, 0.5}, [](const auto& h) -> Out {
                 if (h.size() < 9) return {};
                 const auto hi = last(field(h, &Candle::high), 9);
                 const auto lo = last(field(h, &Candle::low), 9);
                 const double m = two_pass_mean(last(field(h, &Candle::close), 9));
                 const double w = 0.5 * (*std::max_element(hi.begin(), hi.end()) -
                                         *std::min_element(lo.begin(), lo.end()));
                 return bands(m + w, m, m - w);
               }});
  v.push_back({"ProjectionBands", {9}, [](const auto& h) -> Out {
                 if (h.size() < 9) return {};
                 const auto hi = last(field(h, &Candle::high), 9);
                 const auto lo = last(field(h, &Candle::low), 9);
                 const double bh = ols_slope(hi), bl = ols_slope(lo);
                 double u = -INFINITY, l = INFINITY;
                 for (std::size_t i = 0; i < 9; ++i) {
                   u = std::max(u, hi[i] + bh * (8.0 - i));
                   l = std::min(l, lo[i] + bl * (8.0 - i));
                 }
                 return bands(u, (u + l) / 2, l);
               }});
  v.push_back({"AccelerationBands", {7, 3}, [](const auto& h) -> Out {
                 if (h.size() < 7) return {};
                 double u = 0, m = 0, l = 0;
                 for (const auto& c : last(h, 7)) {
                   const double r = (c.high - c.low) / (c.high + c.low);
                   u += c.high * (1 + 3 * r);
                   m += c.close;
                   l += c.low * (1 - 3 * r);
                 }
                 return bands(u / 7, m / 7, l / 7);
               }});
  return v;
}

// Candle series: a random walk with invalid steps mixed in, the same walk at a price level of
// 1e9 (cancellation-prone for sums of squares), and a flat market.
std::vector<std::pair<const char*, std::vector<Candle>>> candle_series() {
  std::vector<Candle> walk;
  for (const auto& s : testing::random_walk(400, 11)) walk.push_back(s.candle);
  auto scaled = walk;
  for (auto& c : scaled) {
    c.open *= 1e9;
    c.high *= 1e9;
    c.low *= 1e9;
    c.close *= 1e9;
  }
  std::vector<Candle> flat(120, bar(50, 50, 50, 50));
  return {{"walk", walk}, {"walk_1e9", scaled}, {"flat", flat}};
}

TEST(Volbands, MembersMatchPlainRecomputationWithInvalidStepsMixedIn) {
  for (const auto& [series_name, candles] : candle_series()) {
    for (const auto& m : references()) {
      const NameInfo* row = Registry::instance().info(m.name);
      ASSERT_NE(row, nullptr);
      auto ev = build(m.name, m.params);
      ASSERT_TRUE(ev);
      std::vector<Candle> accepted;
      for (std::size_t i = 0; i < candles.size(); ++i) {
        if (i % 13 == 5) {  // an input the member's kind must refuse, leaving no trace
          Candle bad = candles[i];
          if (row->input == InputKind::Close) bad.close = kNaN;
          else bad.low = bad.high + 1;
          ASSERT_FALSE(feed(*ev, bad).has_value()) << m.name;
        }
        accepted.push_back(candles[i]);
        const auto v = feed(*ev, candles[i]);
        const Out want = m.ref(accepted);
        ASSERT_EQ(v.has_value(), want.has_value()) << m.name << " " << series_name << " @" << i;
        if (!v) continue;
        std::vector<double> got{*v};
        for (double x : ev->extras()) got.push_back(x);
        ASSERT_EQ(got.size(), want->size()) << m.name;
        for (std::size_t j = 0; j < got.size(); ++j)
          ASSERT_TRUE(close_enough(got[j], (*want)[j], 1e-7, 1e-10))
              << m.name << " " << series_name << " @" << i << " output " << j << ": " << got[j]
              << " vs " << (*want)[j];
      }
    }
  }
}

// A valid candle whose range overflows and whose close is 0: every member below meets a true
// range or log ratio that is not finite. The step must answer nothing and leave no trace
// (previous close included), instead of poisoning the running sums for good.
TEST(Volbands, NonFiniteIntermediateRefusesTheStep) {
  const Candle poison = bar(0, 1e308, -1e308, 0);
  std::vector<Candle> base;
  for (const auto& s : testing::random_walk(90, 5)) base.push_back(s.candle);
  auto poisoned = base;
  poisoned.insert(poisoned.begin() + 40, poison);
  const std::pair<const char*, std::vector<double>> members[] = {
      {"TrueRange", {}},
      {"Atr", {5}},
      {"Natr", {5}},
      {"HighLowRange", {}},
      {"VolatilityRatio", {5}},
      {"ChaikinVolatility", {4, 3}},
      {"MassIndex", {3, 4}},
      {"ParkinsonVolatility", {5, 252}},
      {"GarmanKlassVolatility", {5, 252}},
      {"RogersSatchellVolatility", {5, 252}},
      {"Keltner", {5, 4, 2}},
      {"StarcBands", {5, 4, 2}},
      {"AtrBands", {5, 2}},
  };
  for (const auto& [name, params] : members) {
    auto want = run(name, params, base);
    auto got = run(name, params, poisoned);
    ASSERT_EQ(got.size(), want.size() + 1) << name;
    EXPECT_FALSE(got[40].has_value()) << name;
    got.erase(got.begin() + 40);
    EXPECT_EQ(got, want) << name;
  }
}

// Log-return members facing a first close of 0: the step after it has no finite return and
// answers nothing, but the previous close moves on, so from there the member runs exactly like
// a fresh one started on that step (it must not stay frozen on the zero close).
TEST(Volbands, ZeroCloseCostsOneReturnAndTheMemberCarriesOn) {
  std::vector<Candle> walk;
  for (const auto& s : testing::random_walk(60, 7)) walk.push_back(s.candle);
  auto poisoned = walk;
  poisoned.insert(poisoned.begin(), bar(0, 1, 0, 0));
  const std::pair<const char*, std::vector<double>> members[] = {
      {"HistoricalVolatility", {5, 252}}, {"RealizedVolatility", {5}},
      {"BipowerVariation", {5}},          {"JumpIndicator", {5, 2}},
      {"EwmaVolatility", {0.9}},          {"Garch11", {0.0001, 0.1, 0.8}},
      {"VolatilityOfVolatility", {4, 3}}, {"YangZhangVolatility", {5, 252}},
  };
  for (const auto& [name, params] : members) {
    auto want = run(name, params, walk);
    auto got = run(name, params, poisoned);
    ASSERT_EQ(got.size(), want.size() + 1) << name;
    EXPECT_FALSE(got[0].has_value() || got[1].has_value()) << name;
    got.erase(got.begin());
    EXPECT_EQ(got, want) << name;
    EXPECT_TRUE(want.back().has_value()) << name;
  }
}

TEST(Volbands, ConstructionErrors) {
  const std::string max = "invalid period: period exceeds the maximum supported window length "
                          "(see MAX_PERIOD)";
  const std::string zero = "period must be greater than zero";
  const std::string mult = "multiplier must be greater than zero";
  struct Case {
    const char* name;
    std::vector<double> params;
    std::string message;
  };
  const Case cases[] = {
      {"Atr", {16777217}, max},
      {"Atr", {1e-300}, zero},
      {"Natr", {16777217}, max},
      {"VolatilityRatio", {16777217}, max},
      {"AverageDailyRange", {16777217, 0}, max},
      {"ChaikinVolatility", {10, 16777217}, max},
      {"ChaikinVolatility", {16777217, 1e-300}, zero},  // zeros are checked before maxima
      {"MassIndex", {9, 16777217}, max},
      {"HistoricalVolatility", {1, 252},
       "invalid period: historical volatility period must be >= 2"},
      {"HistoricalVolatility", {1, 1e-300}, zero},
      {"HistoricalVolatility", {16777217, 252}, max},
      {"RealizedVolatility", {16777217}, max},
      {"BipowerVariation", {1}, "invalid period: bipower variation period must be >= 2"},
      {"JumpIndicator", {1e-300, 2}, "invalid period: jump indicator needs period >= 2"},
      {"JumpIndicator", {1, 2}, "invalid period: jump indicator needs period >= 2"},
      {"JumpIndicator", {16777217, 0}, max},
      {"JumpIndicator", {5, 0},
       "invalid parameter: jump indicator threshold must be finite and positive"},
      {"EwmaVolatility", {1},
       "invalid parameter: EWMA volatility lambda must be in the open interval (0, 1)"},
      {"EwmaVolatility", {0},
       "invalid parameter: EWMA volatility lambda must be in the open interval (0, 1)"},
      {"Garch11", {0, -1, 2}, "invalid parameter: GARCH(1,1) omega must be > 0"},
      {"Garch11", {1, -0.1, 0.5}, "invalid parameter: GARCH(1,1) alpha and beta must be >= 0"},
      {"Garch11", {1, 0.5, 0.5},
       "invalid parameter: GARCH(1,1) requires alpha + beta < 1 (covariance stationarity)"},
      {"VolatilityOfVolatility", {20, 1},
       "invalid period: vol-of-vol windows must both be >= 2"},
      {"VolatilityOfVolatility", {16777217, 2}, max},
      {"RviVolatility", {1}, "invalid period: RVI period must be >= 2"},
      {"ParkinsonVolatility", {16777217, 252}, max},
      {"GarmanKlassVolatility", {5, 1e-300}, zero},
      {"RogersSatchellVolatility", {16777217, 252}, max},
      {"YangZhangVolatility", {1, 252}, "invalid period: Yang-Zhang period must be >= 2"},
      {"VolatilityCone", {2, 1},
       "invalid period: volatility cone window and lookback must both be >= 2"},
      {"VolatilityCone", {2, 16777217}, max},
      {"BollingerBands", {16777217, 0}, max},  // length before multiplier
      {"BollingerBands", {20, 0}, mult},
      {"Bollinger", {20, -1}, mult},
      {"PercentB", {1e-300, 0}, zero},
      {"BollingerBandwidth", {20, 0}, mult},
      {"DoubleBollinger", {16777217, 2, 2},
       "invalid period: double bollinger requires k_outer > k_inner"},
      {"DoubleBollinger", {16777217, 0, 2}, mult},
      {"DoubleBollinger", {16777217, 1, 2}, max},
      {"MaEnvelope", {16777217, 0}, mult},  // multiplier before length
      {"MaEnvelope", {16777217, 0.1}, max},
      {"BomarBands", {20, 1.5},
       "invalid parameter: bomar bands coverage must be a finite value in (0.0, 1.0]"},
      {"BomarBands", {16777217, 1.5}, max},
      {"QuartileBands", {16777217}, max},
      {"MedianChannel", {20, 0}, mult},
      {"LinRegChannel", {1, 2}, "invalid period: linear regression channel needs period >= 2"},
      {"StandardErrorBands", {2, 2}, "invalid period: standard error bands need period >= 3"},
      {"StandardErrorBands", {3, 0}, mult},
      {"Keltner", {16777217, 16777217, 0}, mult},
      {"Keltner", {1e-300, 16777217, 2}, zero},
      {"Keltner", {16777217, 1e-300, 2}, max},  // first length before the second
      {"StarcBands", {5, 16777217, 2}, max},
      {"AtrBands", {16777217, -2}, mult},
      {"AccelerationBands", {20, 0}, mult},
      {"HurstChannel", {16777217, 1}, max},
      {"Donchian", {16777217}, max},
      {"FractalChaosBands", {16777217}, max},
      {"ProjectionBands", {1}, "invalid period: projection bands need period >= 2"},
      {"VwapStdDevBands", {0}, mult},
  };
  for (const auto& c : cases) {
    auto r = Registry::instance().build(c.name, c.params);
    ASSERT_FALSE(r.has_value()) << c.name;
    const std::string canonical = std::string(c.name) == "Bollinger" ? "BollingerBands" : c.name;
    EXPECT_EQ(r.error().display(),
              "invalid parameters for indicator " + canonical + ": " + c.message)
        << c.name;
  }
}

}  // namespace
}  // namespace ostrel
