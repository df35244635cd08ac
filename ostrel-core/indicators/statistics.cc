// Rolling statistics of the close: moments, regression fits and their forecasts and oscillators,
// serial dependence and entropy, order statistics, normalisations, log returns and a seasonal
// z-score of returns by hour of day.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "../numeric/constant_window.h"
#include "../numeric/quantile.h"
#include "../numeric/ring.h"
#include "../numeric/rolling_moments.h"
#include "../numeric/rolling_regression.h"
#include "families.h"

namespace ostrel {
namespace {

using numeric::RegressionConstants;
using numeric::Ring;
using Built = EvaluatorResult;

[[nodiscard]] Status<IndicatorError> at_least(std::size_t n, std::size_t min, const char* text) {
  if (n < min) return IndicatorError::invalid_period(text);
  return Ok{};
}

// Copies a ring into a contiguous buffer (oldest first) that is reused between steps.
void linearize(const Ring<double>& r, std::vector<double>& out) {
  out.resize(r.size());
  std::size_t i = 0;
  r.for_each([&](double v) { out[i++] = v; });
}

// --------------------------------------------------------------------------------------------
// Moments

enum class Moment { Variance, StdDev, ZScore, CoefficientOfVariation, Skewness, Kurtosis };

template <Moment K>
class MomentStat {
  static constexpr bool kHigher = K == Moment::Skewness || K == Moment::Kurtosis;

 public:
  static constexpr InputKind kInput = InputKind::Close;

  [[nodiscard]] static Result<MomentStat, IndicatorError> create(std::size_t period) {
    if constexpr (K == Moment::Skewness) {
      if (auto s = at_least(period, 3, "skewness needs period >= 3"); !s) return s.error();
    } else if constexpr (K == Moment::Kurtosis) {
      if (auto s = at_least(period, 4, "kurtosis needs period >= 4"); !s) return s.error();
    }
    if (auto s = check_period(period); !s) return s.error();
    return MomentStat(period);
  }

  std::optional<double> push(double x) {
    m_.push(x);
    if (!m_.full()) return std::nullopt;
    const double var = m_.variance();
    if constexpr (K == Moment::Variance) {
      return var;
    } else if constexpr (K == Moment::StdDev) {
      return std::sqrt(var);
    } else if constexpr (K == Moment::ZScore) {
      if (var == 0) return 0.0;
      return (x - m_.mean()) / std::sqrt(var);
    } else if constexpr (K == Moment::CoefficientOfVariation) {
      const double mean = m_.mean();
      if (mean == 0) return 0.0;
      return std::sqrt(var) / mean;
    } else if constexpr (K == Moment::Skewness) {
      if (var == 0) return 0.0;
      return m_.third_moment() / std::pow(var, 1.5);
    } else {
      if (var == 0) return 0.0;
      return m_.fourth_moment() / (var * var) - 3;
    }
  }
  std::size_t warmup_period() const { return m_.period(); }

 private:
  explicit MomentStat(std::size_t n) : m_(n) {}
  numeric::RollingMomentsT<kHigher> m_;
};

// Two passes over the window every step (exact mean first, then central powers): no running
// sums, so nothing drifts.
class JarqueBera {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<JarqueBera, IndicatorError> create(std::size_t period) {
    if (auto s = at_least(period, 4, "Jarque-Bera needs period >= 4"); !s) return s.error();
    if (auto s = check_period(period); !s) return s.error();
    return JarqueBera(period);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    const double n = static_cast<double>(win_.size());
    const double mu = numeric::plain_mean(win_);
    double s2 = -0.0, s3 = -0.0, s4 = -0.0;
    win_.for_each([&](double v) {
      const double d = v - mu;
      s2 += d * d;
      s3 += d * d * d;
      s4 += d * d * d * d;
    });
    const double m2 = s2 / n, m3 = s3 / n, m4 = s4 / n;
    if (m2 == 0) return 0.0;
    const double skew = m3 / std::pow(m2, 1.5);
    const double kurt = m4 / (m2 * m2) - 3;
    return n / 6 * (skew * skew + kurt * kurt / 4);
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit JarqueBera(std::size_t n) : win_(n) {}
  Ring<double> win_;
};

// --------------------------------------------------------------------------------------------
// Regression fits

enum class Fit { Line, Forecast, Slope, Intercept, Angle, RSquared, Cfo, TsfOscillator };

constexpr const char* fit_error(Fit k) {
  switch (k) {
    case Fit::Line:
    case Fit::Cfo:
      return "linear regression needs period >= 2";
    case Fit::Slope:
    case Fit::Angle:
      return "linear regression slope needs period >= 2";
    case Fit::Intercept:
      return "linear regression intercept needs period >= 2";
    case Fit::Forecast:
      return "time series forecast needs period >= 2";
    case Fit::TsfOscillator:
      return "TSF oscillator needs period >= 2";
    case Fit::RSquared:
      return "R² needs period >= 2";
  }
  return "";
}

template <Fit K>
class RegressionStat {
 public:
  static constexpr InputKind kInput = InputKind::Close;

  [[nodiscard]] static Result<RegressionStat, IndicatorError> create(std::size_t period) {
    if (auto s = at_least(period, 2, fit_error(K)); !s) return s.error();
    if (auto s = check_period(period); !s) return s.error();
    return RegressionStat(period);
  }

  std::optional<double> push(double x) {
    reg_.push(x);
    if (!reg_.full()) return std::nullopt;
    const double n = static_cast<double>(reg_.period());
    const double b = reg_.slope();
    if constexpr (K == Fit::Line) {
      return reg_.intercept(b) + b * (n - 1);
    } else if constexpr (K == Fit::Forecast) {
      return reg_.intercept(b) + b * n;
    } else if constexpr (K == Fit::Slope) {
      return b;
    } else if constexpr (K == Fit::Intercept) {
      return reg_.intercept(b);
    } else if constexpr (K == Fit::Angle) {
      return std::atan(b) * 57.29577951308232;
    } else if constexpr (K == Fit::RSquared) {
      if (reg_.constant()) return 1.0;  // no spread to explain
      double ss = reg_.syy() - reg_.sy() * reg_.sy() / n;
      if (ss < 0) ss = 0;
      if (ss <= 0) return 1.0;
      const double r2 = b * b * (reg_.constants().d / n) / ss;
      return std::clamp(r2, 0.0, 1.0);
    } else {
      // A close of exactly 0 has no percentage: the last value stands, while the fit advances.
      if (x == 0) return last_;
      const double line =
          K == Fit::Cfo ? reg_.intercept(b) + b * (n - 1) : reg_.intercept(b) + b * n;
      last_ = (x - line) * 100 / x;
      return last_;
    }
  }
  std::size_t warmup_period() const { return reg_.period(); }

 private:
  explicit RegressionStat(std::size_t n) : reg_(n) {}
  numeric::RollingRegression reg_;
  std::optional<double> last_;
};

// Residual spread around the window's least-squares line, recomputed every step.
template <bool kStandardError>
class DetrendedSpread {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<DetrendedSpread, IndicatorError> create(std::size_t period) {
    if constexpr (kStandardError) {
      if (auto s = at_least(period, 3, "standard error needs period >= 3"); !s) return s.error();
    } else {
      if (auto s = at_least(period, 2, "detrended stddev needs period >= 2"); !s) return s.error();
    }
    if (auto s = check_period(period); !s) return s.error();
    return DetrendedSpread(period);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    const double n = static_cast<double>(win_.size());
    // Deviations from the oldest close keep the sums small for prices far from zero.
    const double f = win_.oldest();
    double su = -0.0;
    win_.for_each([&](double v) { su += v - f; });
    const double ubar = su / n;
    const double tbar = (n - 1) / 2;
    double sxy = -0.0, t = 0;
    win_.for_each([&](double v) {
      sxy += (v - f - ubar) * (t - tbar);
      t += 1;
    });
    const double beta = sxy / (c_.d / n);
    double ss = -0.0;
    t = 0;
    win_.for_each([&](double v) {
      const double r = v - f - ubar - beta * (t - tbar);
      ss += r * r;
      t += 1;
    });
    return std::sqrt(ss / (kStandardError ? n - 2 : n));
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit DetrendedSpread(std::size_t n) : win_(n), c_(numeric::regression_constants(n)) {}
  Ring<double> win_;
  RegressionConstants c_;
};

// Pearson correlation of the window's closes with their positions.
class CorrelationTrend {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<CorrelationTrend, IndicatorError> create(std::size_t period) {
    if (auto s = at_least(period, 2, "CTI needs period >= 2"); !s) return s.error();
    if (auto s = check_period(period); !s) return s.error();
    return CorrelationTrend(period);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    const double n = static_cast<double>(win_.size());
    const double mean = numeric::plain_mean(win_);
    double sl = -0.0, sll = -0.0, stl = -0.0, t = 0;
    win_.for_each([&](double v) {
      const double l = v - mean;
      sl += l;
      sll += l * l;
      stl += t * l;
      t += 1;
    });
    const double num = n * stl - c_.t1 * sl;
    const double spread = n * sll - sl * sl;
    const double den = spread * c_.d;
    // The spread is never negative in exact arithmetic; a negative one is rounding in a window
    // without spread, which has no trend either.
    if (den == 0 || spread < 0) return 0.0;
    // A product beyond the double range (prices near 1e150 over long windows) would turn the
    // correlation into 0; the two roots taken apart stay in range.
    const double root = std::isfinite(den) ? std::sqrt(den) : std::sqrt(spread) * std::sqrt(c_.d);
    return std::clamp(num / root, -1.0, 1.0);
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit CorrelationTrend(std::size_t n) : win_(n), c_(numeric::regression_constants(n)) {}
  Ring<double> win_;
  RegressionConstants c_;
};

// --------------------------------------------------------------------------------------------
// Serial dependence and entropy

class Autocorrelation {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Autocorrelation, IndicatorError> create(std::size_t period,
                                                                      std::size_t lag) {
    if (lag < 1) return IndicatorError::invalid_period("autocorrelation lag must be >= 1");
    if (lag >= period) return IndicatorError::invalid_period("autocorrelation needs period > lag");
    // No upper bound is stated; refuse oversized windows rather than attempt them.
    if (auto s = check_period(period); !s) return s.error();
    return Autocorrelation(period, lag);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    linearize(win_, buf_);
    const std::size_t n = buf_.size();
    const double mu = numeric::plain_mean(buf_.data(), n);
    double den = -0.0;
    for (double v : buf_) den += (v - mu) * (v - mu);
    double num = -0.0;
    for (std::size_t i = 0; i + lag_ < n; ++i) num += (buf_[i + lag_] - mu) * (buf_[i] - mu);
    if (den == 0) return 0.0;
    return num / den;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  Autocorrelation(std::size_t n, std::size_t lag) : win_(n), lag_(lag) {}
  Ring<double> win_;
  std::size_t lag_;
  std::vector<double> buf_;
};

// Work a step of the quadratic members may take; beyond it a single step would run for minutes
// to days, which no window length justifies.
constexpr double kMaxStepWork = 4294967296.0;  // 2^32
// The sample entropy window whose point pairs (about period^2 / 2) stay below that work.
constexpr std::size_t kMaxSampleEntropyPeriod = 65536;

class HurstExponent {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<HurstExponent, IndicatorError> create(std::size_t period,
                                                                    std::size_t chunks) {
    if (chunks < 2) return IndicatorError::invalid_period("Hurst chunks must be >= 2");
    if (auto s = check_period(chunks); !s) return s.error();
    // chunks <= MAX_PERIOD here, so 2 * chunks cannot overflow.
    if (period < 2 * chunks)
      return IndicatorError::invalid_period("Hurst period must be >= 2 * chunks");
    if (auto s = check_period(period); !s) return s.error();
    // A step splits the window chunks times: about period * chunks operations.
    if (static_cast<double>(period) * static_cast<double>(chunks) > kMaxStepWork)
      return IndicatorError::invalid_period("Hurst period * chunks must be <= 4294967296");
    return HurstExponent(period, chunks);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    linearize(win_, buf_);
    const std::size_t n = buf_.size();
    std::size_t points = 0;
    for (std::size_t k = 1; k <= chunks_; ++k) {
      const std::size_t v = n / k;
      const double vd = static_cast<double>(v);
      double rs_sum = -0.0;
      std::size_t kept = 0;
      for (std::size_t c = 0; c < k; ++c) {
        const double* p = buf_.data() + c * v;
        const double g = numeric::plain_mean(p, v);
        double y = -0.0, ss = -0.0;
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (std::size_t i = 0; i < v; ++i) {
          const double d = p[i] - g;
          y += d;
          ss += d * d;
          lo = std::min(lo, y);
          hi = std::max(hi, y);
        }
        const double range = hi - lo;
        const double sd = std::sqrt(ss / vd);
        if (sd == 0 || range == 0) continue;
        rs_sum += range / sd;
        ++kept;
      }
      if (kept == 0) continue;
      // Point storage follows the data: sized on the first full window, not at construction.
      if (lx_.size() < chunks_) {
        lx_.resize(chunks_);
        ly_.resize(chunks_);
      }
      lx_[points] = std::log(vd);
      ly_[points] = std::log(rs_sum / static_cast<double>(kept));
      ++points;
    }
    if (points < 2) return 0.5;
    const double np = static_cast<double>(points);
    double sx = -0.0, sy = -0.0;
    for (std::size_t i = 0; i < points; ++i) {
      sx += lx_[i];
      sy += ly_[i];
    }
    const double mx = sx / np, my = sy / np;
    double sxy = -0.0, sxx = -0.0;
    for (std::size_t i = 0; i < points; ++i) {
      sxy += (lx_[i] - mx) * (ly_[i] - my);
      sxx += (lx_[i] - mx) * (lx_[i] - mx);
    }
    if (sxx == 0) return 0.5;  // every point at one chunk size: no slope to fit
    return std::clamp(sxy / sxx, 0.0, 1.0);
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  HurstExponent(std::size_t n, std::size_t chunks) : win_(n), chunks_(chunks) {}
  Ring<double> win_;
  std::size_t chunks_;
  std::vector<double> buf_, lx_, ly_;
};

class SampleEntropy {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<SampleEntropy, IndicatorError> create(std::size_t period,
                                                                    std::size_t m,
                                                                    double r_factor) {
    // Written so that a saturated m cannot overflow m + 2.
    if (period < 2 || period - 2 < m)
      return IndicatorError::invalid_period("sample entropy needs period >= m + 2");
    if (!std::isfinite(r_factor) || r_factor <= 0)
      return IndicatorError::invalid_parameter(
          "sample entropy r_factor must be finite and positive");
    if (auto s = check_period(period); !s) return s.error();
    // A template length of 0 (a parameter of 1e-300) compares nothing.
    if (m == 0) return IndicatorError::zero_period();
    // A step compares about period^2 / 2 pairs of points.
    if (period > kMaxSampleEntropyPeriod)
      return IndicatorError::invalid_period("sample entropy needs period <= 65536");
    return SampleEntropy(period, m, r_factor);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    linearize(win_, buf_);
    const std::size_t n = buf_.size();
    const double nd = static_cast<double>(n);
    const double mean = numeric::plain_mean(buf_.data(), n);
    double ss = -0.0;
    for (double v : buf_) ss += (v - mean) * (v - mean);
    const double var = ss / nd;
    if (var == 0) return 0.0;
    const double r = std::sqrt(var) * r_factor_;
    // Template pairs (i, i + delta) are counted along each diagonal delta: `run` is the number
    // of consecutive matching points ending at k, so the m-point templates starting at
    // k - m + 1 match when run >= m, and the (m + 1)-point ones starting at k - m when run > m.
    // Each point pair is compared once instead of once per template that contains it.
    const std::size_t templates = n - m_;  // starts 0 .. n - m - 1
    std::uint64_t a = 0, b = 0;
    const double* p = buf_.data();
    for (std::size_t delta = 1; delta < templates; ++delta) {
      const std::size_t pairs = templates - delta;
      const double* q = p + delta;
      std::size_t run = 0;
      for (std::size_t k = 0; k < pairs + m_; ++k) {
        run = std::abs(p[k] - q[k]) <= r ? run + 1 : 0;
        if (k + 1 >= m_ && k + 1 - m_ < pairs) b += run >= m_;
        if (k >= m_ && k - m_ < pairs) a += run > m_;
      }
    }
    if (b == 0) return 0.0;
    if (a > 0) return -std::log(static_cast<double>(a) / static_cast<double>(b));
    return std::log(static_cast<double>(b));
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  SampleEntropy(std::size_t n, std::size_t m, double r) : win_(n), m_(m), r_factor_(r) {}
  Ring<double> win_;
  std::size_t m_;
  double r_factor_;
  std::vector<double> buf_;
};

class ShannonEntropy {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<ShannonEntropy, IndicatorError> create(std::size_t period,
                                                                     std::size_t bins) {
    if (bins < 2) return IndicatorError::invalid_period("Shannon entropy needs bins >= 2");
    if (auto s = check_period(bins); !s) return s.error();
    if (auto s = check_period(period); !s) return s.error();
    return ShannonEntropy(period, bins);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    double lo = win_.oldest(), hi = lo;
    win_.for_each([&](double v) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    });
    if (hi <= lo) return 0.0;
    // A range beyond the double range would make every bin position NaN; halving all values
    // leaves the bin of each value unchanged.
    const double s = std::isfinite(hi - lo) ? 1.0 : 0.5;
    const double nb = static_cast<double>(bins_);
    const double width = (hi * s - lo * s) / nb;
    const double n = static_cast<double>(win_.size());
    auto bin_of = [&](double v) -> std::size_t {
      const double pos = std::floor((v * s - lo * s) / width);
      // Clamped before conversion; NaN (0 / 0 when the width underflows) is the lowest bin.
      return pos >= nb - 1 ? bins_ - 1 : pos > 0 ? static_cast<std::size_t>(pos) : 0;
    };
    double h = -0.0;
    auto add = [&](std::size_t count) {
      const double p = static_cast<double>(count) / n;
      h += p * std::log2(p);
    };
    if (bins_ <= win_.size()) {
      // A count per bin; storage is bounded by the window, not by `bins`.
      counts_.assign(bins_, 0);
      win_.for_each([&](double v) { ++counts_[bin_of(v)]; });
      for (std::size_t c : counts_)
        if (c != 0) add(c);
    } else {
      // More bins than values: count runs of sorted bin numbers instead.
      counts_.resize(win_.size());
      std::size_t i = 0;
      win_.for_each([&](double v) { counts_[i++] = bin_of(v); });
      std::sort(counts_.begin(), counts_.end());
      for (std::size_t a = 0; a < counts_.size();) {
        std::size_t b = a;
        while (b < counts_.size() && counts_[b] == counts_[a]) ++b;
        add(b - a);
        a = b;
      }
    }
    return -h;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  ShannonEntropy(std::size_t n, std::size_t bins) : win_(n), bins_(bins) {}
  Ring<double> win_;
  std::size_t bins_;
  std::vector<std::size_t> counts_;  // per-bin counts, or bin numbers when bins > window
};

// --------------------------------------------------------------------------------------------
// Order statistics

class RollingQuantile {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<RollingQuantile, IndicatorError> create(std::size_t period,
                                                                      double q) {
    if (auto s = check_period(period); !s) return s.error();
    if (!std::isfinite(q) || q < 0 || q > 1)
      return IndicatorError::invalid_parameter(
          "rolling quantile must be a finite value in [0.0, 1.0]");
    return RollingQuantile(period, q);
  }
  std::optional<double> push(double x) {
    w_.push(x);
    if (!w_.full()) return std::nullopt;
    return numeric::interpolated_quantile(w_.sorted(), q_);
  }
  std::size_t warmup_period() const { return w_.capacity(); }

 private:
  RollingQuantile(std::size_t n, double q) : w_(n), q_(q) {}
  numeric::SortedWindow w_;
  double q_;
};

class RollingIqr {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<RollingIqr, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return RollingIqr(period);
  }
  std::optional<double> push(double x) {
    w_.push(x);
    if (!w_.full()) return std::nullopt;
    if (w_.size() == 1) return 0.0;
    return numeric::interpolated_quantile(w_.sorted(), 0.75) -
           numeric::interpolated_quantile(w_.sorted(), 0.25);
  }
  std::size_t warmup_period() const { return w_.capacity(); }

 private:
  explicit RollingIqr(std::size_t n) : w_(n) {}
  numeric::SortedWindow w_;
};

class MedianAbsoluteDeviation {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<MedianAbsoluteDeviation, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return MedianAbsoluteDeviation(period);
  }
  std::optional<double> push(double x) {
    w_.push(x);
    if (!w_.full()) return std::nullopt;
    const double m = numeric::sorted_median(w_.sorted());
    dev_.resize(w_.size());
    std::size_t i = 0;
    w_.window().for_each([&](double v) { dev_[i++] = std::abs(v - m); });
    // Only the middle order statistics are needed: select them instead of sorting.
    const std::size_t half = dev_.size() / 2;
    std::nth_element(dev_.begin(), dev_.begin() + static_cast<std::ptrdiff_t>(half), dev_.end());
    if (dev_.size() % 2 == 1) return dev_[half];
    const double lower =
        *std::max_element(dev_.begin(), dev_.begin() + static_cast<std::ptrdiff_t>(half));
    return numeric::midpoint(lower, dev_[half]);
  }
  std::size_t warmup_period() const { return w_.capacity(); }

 private:
  explicit MedianAbsoluteDeviation(std::size_t n) : w_(n) {}
  numeric::SortedWindow w_;
  std::vector<double> dev_;
};

class RollingPercentileRank {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<RollingPercentileRank, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return RollingPercentileRank(period);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    std::size_t below = 0, equal = 0;
    win_.for_each([&](double v) {
      below += v < x;
      equal += v == x;
    });
    const double score = static_cast<double>(below) + 0.5 * static_cast<double>(equal);
    return score / static_cast<double>(win_.size()) * 100;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit RollingPercentileRank(std::size_t n) : win_(n) {}
  Ring<double> win_;
};

class RollingMinMaxScaler {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<RollingMinMaxScaler, IndicatorError> create(std::size_t period) {
    if (auto s = at_least(period, 2, "min-max scaler needs period >= 2"); !s) return s.error();
    if (auto s = check_period(period); !s) return s.error();
    return RollingMinMaxScaler(period);
  }
  std::optional<double> push(double x) {
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    double lo = x, hi = x;
    win_.for_each([&](double v) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    });
    const double range = hi - lo;
    if (!(range > 0)) return 0.5;
    // A range beyond the double range would give 0 or NaN; halving both sides keeps the ratio.
    if (!std::isfinite(range)) return (x * 0.5 - lo * 0.5) / (hi * 0.5 - lo * 0.5);
    return (x - lo) / range;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit RollingMinMaxScaler(std::size_t n) : win_(n) {}
  Ring<double> win_;
};

// --------------------------------------------------------------------------------------------
// Transforms

class LogReturn {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<LogReturn, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return LogReturn(period);
  }
  std::optional<double> push(double x) {
    if (!(x > 0)) return std::nullopt;  // no logarithm: ignored without touching the window
    win_.push(x);
    if (!win_.full()) return std::nullopt;
    const double ratio = win_.newest() / win_.oldest();
    // Closes many orders of magnitude apart overflow the ratio or underflow it (to 0 or to a
    // subnormal that has lost digits); their logarithms stay finite and exact.
    if (!(ratio >= std::numeric_limits<double>::min() &&
          ratio <= std::numeric_limits<double>::max()))
      return std::log(win_.newest()) - std::log(win_.oldest());
    return std::log(ratio);
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit LogReturn(std::size_t period) : win_(period + 1) {}
  Ring<double> win_;
};

class PolarizedFractalEfficiency {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<PolarizedFractalEfficiency, IndicatorError> create(
      std::size_t period, std::size_t smoothing) {
    if (auto s = check_period(period); !s) return s.error();
    if (auto s = check_period(smoothing); !s) return s.error();
    return PolarizedFractalEfficiency(period, smoothing);
  }
  std::optional<double> push(double x) {
    if (!closes_.empty()) {
      const double delta = x - closes_.newest();
      const double seg = std::sqrt(std::fma(delta, delta, 1.0));
      if (segs_.full()) path_ -= segs_.oldest();
      segs_.push(seg);
      path_ += seg;
      // Add-and-subtract alone would keep an overflowed segment in the total forever (inf - inf
      // is NaN); re-summing brings the total back once that segment has left the window.
      if (!std::isfinite(path_)) {
        path_ = -0.0;
        segs_.for_each([&](double v) { path_ += v; });
      }
    }
    closes_.push(x);
    if (!closes_.full()) return std::nullopt;
    const double net = closes_.newest() - closes_.oldest();
    const double n = static_cast<double>(segs_.capacity());
    const double sign = net > 0 ? 100.0 : net < 0 ? -100.0 : 0.0;
    const double raw = std::sqrt(net * net + n * n) * sign / path_;
    if (!std::isfinite(raw)) return std::nullopt;
    if (seeded_ < smoothing_) {
      seed_sum_ += raw;
      if (++seeded_ < smoothing_) return std::nullopt;
      ema_ = seed_sum_ / static_cast<double>(smoothing_);
      return ema_;
    }
    ema_ = std::fma(alpha_, raw, (1 - alpha_) * ema_);
    return ema_;
  }
  std::size_t warmup_period() const { return segs_.capacity() + smoothing_; }

 private:
  PolarizedFractalEfficiency(std::size_t n, std::size_t s)
      : segs_(n), closes_(n + 1), smoothing_(s), alpha_(2.0 / (static_cast<double>(s) + 1)) {}
  Ring<double> segs_;
  Ring<double> closes_;
  double path_ = 0.0;
  std::size_t smoothing_;
  double alpha_;
  std::size_t seeded_ = 0;
  double seed_sum_ = -0.0;
  double ema_ = 0.0;
};

// z-score of the close-to-close return against earlier returns of the same hour of day.
class SeasonalZScore {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  [[nodiscard]] static Result<SeasonalZScore, IndicatorError> create(std::int32_t offset_minutes) {
    return SeasonalZScore(offset_minutes);
  }
  std::optional<double> push(const Candle& c) {
    if (!prev_) {
      prev_ = c.close;
      return std::nullopt;
    }
    // Seconds since the epoch rounded toward minus infinity, so instants before 1970 fall in the
    // hour they belong to.
    std::int64_t secs = c.ts / 1000;
    if (c.ts % 1000 < 0) --secs;
    std::int64_t day = (secs + 60 * static_cast<std::int64_t>(offset_)) % 86400;
    if (day < 0) day += 86400;
    Slot& s = slots_[static_cast<std::size_t>(day / 3600)];
    const double r = *prev_ == 0 ? 0.0 : c.close / *prev_ - 1;
    const std::uint64_t n = s.count;
    double z = 0;
    if (n > 1) {
      const double var = s.m2 / static_cast<double>(n - 1);
      if (var > 0) z = (r - s.mean) / std::sqrt(var);
    }
    const double old_mean = s.mean;
    s.count = n + 1;
    s.mean += (r - s.mean) / static_cast<double>(n + 1);
    s.m2 += (r - s.mean) * (r - old_mean);
    prev_ = c.close;
    if (n < 2) return std::nullopt;
    return z;
  }
  // The first value needs two earlier returns in the same hour slot, so it can come later.
  std::size_t warmup_period() const { return 2; }

 private:
  struct Slot {
    std::uint64_t count = 0;
    double mean = 0, m2 = 0;
  };
  explicit SeasonalZScore(std::int32_t offset) : offset_(offset) {}
  std::int32_t offset_;
  std::optional<double> prev_;
  std::array<Slot, 24> slots_{};
};

// Factory of the members whose only parameter is the period.
template <class T>
Built by_period(const Params& p) {
  return wrap(T::create(p.n(0)));
}

}  // namespace

void register_statistics(FamilyTable& t) {
  using M = Moment;
  using F = Fit;
  t.add("StdDev", by_period<MomentStat<M::StdDev>>, {20});
  t.add("Variance", by_period<MomentStat<M::Variance>>, {20});
  t.add("ZScore", by_period<MomentStat<M::ZScore>>, {20});
  t.add("CoefficientOfVariation", by_period<MomentStat<M::CoefficientOfVariation>>, {20});
  t.add("Skewness", by_period<MomentStat<M::Skewness>>, {20});
  t.add("Kurtosis", by_period<MomentStat<M::Kurtosis>>, {20});
  t.add("JarqueBera", by_period<JarqueBera>, {20});
  t.add("DetrendedStdDev", by_period<DetrendedSpread<false>>, {20});
  t.add("StandardError", by_period<DetrendedSpread<true>>, {20});
  t.add("RSquared", by_period<RegressionStat<F::RSquared>>, {20});
  t.add("LinearRegression", by_period<RegressionStat<F::Line>>, {20});
  t.add("LinRegSlope", by_period<RegressionStat<F::Slope>>, {20});
  t.add("LinRegIntercept", by_period<RegressionStat<F::Intercept>>, {20});
  t.add("LinRegAngle", by_period<RegressionStat<F::Angle>>, {20});
  t.add("Tsf", by_period<RegressionStat<F::Forecast>>, {20});
  t.add("TsfOscillator", by_period<RegressionStat<F::TsfOscillator>>, {20});
  t.add("Cfo", by_period<RegressionStat<F::Cfo>>, {20});
  t.add("Autocorrelation",
        [](const Params& p) -> Built { return wrap(Autocorrelation::create(p.n(0), p.n(1))); },
        {20, 1});
  t.add("HurstExponent",
        [](const Params& p) -> Built { return wrap(HurstExponent::create(p.n(0), p.n(1))); },
        {100, 4});
  t.add(
      "SampleEntropy",
      [](const Params& p) -> Built { return wrap(SampleEntropy::create(p.n(0), p.n(1), p.f(2))); },
      {50, 2, 0.2});
  t.add("ShannonEntropy",
        [](const Params& p) -> Built { return wrap(ShannonEntropy::create(p.n(0), p.n(1))); },
        {50, 10});
  t.add("RollingQuantile",
        [](const Params& p) -> Built { return wrap(RollingQuantile::create(p.n(0), p.f(1))); },
        {20, 0.5});
  t.add("RollingPercentileRank", by_period<RollingPercentileRank>, {20});
  t.add("RollingIqr", by_period<RollingIqr>, {20});
  t.add("MedianAbsoluteDeviation", by_period<MedianAbsoluteDeviation>, {20});
  t.add("RollingMinMaxScaler", by_period<RollingMinMaxScaler>, {20});
  t.add("LogReturn", by_period<LogReturn>, {10});
  t.add("PolarizedFractalEfficiency",
        [](const Params& p) -> Built {
          return wrap(PolarizedFractalEfficiency::create(p.n(0), p.n(1)));
        },
        {10, 5});
  t.add("CorrelationTrendIndicator", by_period<CorrelationTrend>, {20});
  t.add("SeasonalZScore",
        [](const Params& p) -> Built { return wrap(SeasonalZScore::create(p.i32(0))); }, {0});
}

}  // namespace ostrel
