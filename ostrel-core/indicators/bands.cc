// Bands and channels: statistical bands around a moving centre, range channels and
// volatility-scaled bands. Every member but the bandwidth and %B reports upper, middle and lower
// as extras (some add more) and answers its upper band as the main value.

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "../numeric/bollinger_core.h"
#include "../numeric/ema_core.h"
#include "../numeric/least_squares_line.h"
#include "../numeric/midpoint.h"
#include "../numeric/order_selection.h"
#include "../numeric/quantile.h"
#include "../numeric/ring.h"
#include "../numeric/rolling_mean.h"
#include "../numeric/true_range.h"
#include "families.h"

namespace ostrel {
namespace {

using numeric::AtrCore;
using numeric::BollingerCore;
using numeric::EmaCore;
using numeric::LeastSquaresLine;
using numeric::Ring;
using numeric::RollingMean;

using Status = ostrel::Status<IndicatorError>;

Status check_multiplier(double k) {
  if (!std::isfinite(k) || !(k > 0.0)) return IndicatorError::zero_multiplier();
  return Ok{};
}

// A RollingMean that cannot fail: the length has been checked by the caller.
RollingMean rolling_mean(std::size_t n) { return std::move(RollingMean::create(n)).value(); }

// Copies a full window into a reusable buffer, which reaches the window's size once.
void copy_window(const Ring<double>& win, std::vector<double>& out) {
  out.resize(win.size());
  std::size_t i = 0;
  win.for_each([&](double v) { out[i++] = v; });
}

// Interpolated quantile of a scratch copy (reordered).
double quantile_of(std::vector<double>& scratch, double q) {
  return numeric::quantiles_of<1>(scratch, {q})[0];
}

// Upper, middle and lower band with upper as the main value.
struct Bands3 {
  std::array<double, 3> v{};
  std::optional<double> set(double upper, double middle, double lower) {
    v = {upper, middle, lower};
    return upper;
  }
};

// ---------------------------------------------------------------- Bollinger family

class BollingerBands {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<BollingerBands, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_period(n); !s) return s.error();
    if (auto s = check_multiplier(k); !s) return s.error();
    return BollingerBands(n, k);
  }
  std::optional<double> push(double close) {
    const auto b = core_.push(close);
    if (!b) return std::nullopt;
    extras_ = {b->upper, b->middle, b->lower, b->stddev};
    return b->upper;
  }
  std::span<const double> extras() const { return extras_; }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  BollingerBands(std::size_t n, double k) : core_(n, k) {}
  BollingerCore core_;
  std::array<double, 4> extras_{};
};

class BollingerBandwidth {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<BollingerBandwidth, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_period(n); !s) return s.error();
    if (auto s = check_multiplier(k); !s) return s.error();
    return BollingerBandwidth(n, k);
  }
  std::optional<double> push(double close) {
    const auto b = core_.push(close);
    if (!b) return std::nullopt;
    if (b->middle == 0.0) return 0.0;
    return (b->upper - b->lower) / b->middle;
  }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  BollingerBandwidth(std::size_t n, double k) : core_(n, k) {}
  BollingerCore core_;
};

class PercentB {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<PercentB, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_period(n); !s) return s.error();
    if (auto s = check_multiplier(k); !s) return s.error();
    return PercentB(n, k);
  }
  std::optional<double> push(double close) {
    const auto b = core_.push(close);
    if (!b) return std::nullopt;
    if (b->upper == b->lower) return 0.5;
    return (close - b->lower) / (b->upper - b->lower);
  }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  PercentB(std::size_t n, double k) : core_(n, k) {}
  BollingerCore core_;
};

class DoubleBollinger {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<DoubleBollinger, IndicatorError> create(std::size_t n, double inner,
                                                        double outer) {
    if (auto s = check_multiplier(inner); !s) return s.error();
    if (auto s = check_multiplier(outer); !s) return s.error();
    if (!(outer > inner))
      return IndicatorError::invalid_period("double bollinger requires k_outer > k_inner");
    if (auto s = check_period(n); !s) return s.error();
    return DoubleBollinger(n, inner, outer);
  }
  std::optional<double> push(double close) {
    const auto b = core_.push(close);
    if (!b) return std::nullopt;
    extras_ = {b->upper, b->middle + inner_ * b->stddev, b->middle,
               b->middle - inner_ * b->stddev, b->lower};
    return b->upper;
  }
  std::span<const double> extras() const { return extras_; }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  DoubleBollinger(std::size_t n, double inner, double outer) : core_(n, outer), inner_(inner) {}
  BollingerCore core_;
  double inner_;
  std::array<double, 5> extras_{};
};

// ---------------------------------------------------------------- moving-centre envelopes

class MaEnvelope {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<MaEnvelope, IndicatorError> create(std::size_t n, double fraction) {
    if (auto s = check_multiplier(fraction); !s) return s.error();
    if (auto s = check_period(n); !s) return s.error();
    return MaEnvelope(n, fraction);
  }
  std::optional<double> push(double close) {
    const auto m = sma_.push(close);
    if (!m) return std::nullopt;
    // A fraction above 1 is allowed and simply puts the lower band below zero.
    return bands_.set((1.0 + fraction_) * *m, *m, (1.0 - fraction_) * *m);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return sma_.period(); }

 private:
  MaEnvelope(std::size_t n, double fraction) : sma_(rolling_mean(n)), fraction_(fraction) {}
  RollingMean sma_;
  double fraction_;
  Bands3 bands_;
};

// Mean plus or minus the coverage quantile of the relative deviations from it.
class BomarBands {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<BomarBands, IndicatorError> create(std::size_t n, double coverage) {
    if (auto s = check_period(n); !s) return s.error();
    if (!std::isfinite(coverage) || !(coverage > 0.0) || coverage > 1.0)
      return IndicatorError::invalid_parameter(
          "bomar bands coverage must be a finite value in (0.0, 1.0]");
    return BomarBands(n, coverage);
  }
  std::optional<double> push(double close) {
    win_.push(close);
    if (!win_.full()) return std::nullopt;
    double s = -0.0;
    win_.for_each([&](double v) { s += v; });
    const double g = s / static_cast<double>(win_.size());
    const double ag = std::fabs(g);
    scratch_.resize(win_.size());
    std::size_t i = 0;
    win_.for_each([&](double x) { scratch_[i++] = g != 0.0 ? std::fabs((x - g) / ag) : 0.0; });
    const double o = quantile_of(scratch_, coverage_);
    return bands_.set(g + ag * o, g, g - ag * o);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  BomarBands(std::size_t n, double coverage) : win_(n), coverage_(coverage) {}
  Ring<double> win_;
  double coverage_;
  std::vector<double> scratch_;
  Bands3 bands_;
};

class QuartileBands {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<QuartileBands, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return QuartileBands(n);
  }
  std::optional<double> push(double close) {
    win_.push(close);
    if (!win_.full()) return std::nullopt;
    // Nothing is ordered before the window is full, so a long window costs nothing while it
    // fills.
    copy_window(win_, scratch_);
    const auto q = numeric::quantiles_of<3>(scratch_, {0.75, 0.5, 0.25});
    return bands_.set(q[0], q[1], q[2]);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit QuartileBands(std::size_t n) : win_(n) {}
  Ring<double> win_;
  std::vector<double> scratch_;
  Bands3 bands_;
};

// Median plus or minus k median absolute deviations (no consistency factor).
class MedianChannel {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<MedianChannel, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_period(n); !s) return s.error();
    if (auto s = check_multiplier(k); !s) return s.error();
    return MedianChannel(n, k);
  }
  std::optional<double> push(double close) {
    win_.push(close);
    if (!win_.full()) return std::nullopt;
    copy_window(win_, scratch_);
    const double c = quantile_of(scratch_, 0.5);
    std::size_t i = 0;
    win_.for_each([&](double x) { scratch_[i++] = std::fabs(x - c); });
    const double mad = quantile_of(scratch_, 0.5);
    return bands_.set(c + k_ * mad, c, c - k_ * mad);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  MedianChannel(std::size_t n, double k) : win_(n), k_(k) {}
  Ring<double> win_;
  double k_;
  std::vector<double> scratch_;
  Bands3 bands_;
};

// Regression value at the newest close plus or minus k residual deviations; the divisor of the
// residual sum of squares is n for the channel and n - 2 for the standard-error bands.
template <bool kStandardError>
class RegressionBands {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<RegressionBands, IndicatorError> create(std::size_t n, double k) {
    if (n == 0) return IndicatorError::zero_period();
    if (kStandardError && n < 3)
      return IndicatorError::invalid_period("standard error bands need period >= 3");
    if (!kStandardError && n == 1)
      return IndicatorError::invalid_period("linear regression channel needs period >= 2");
    if (n > MAX_PERIOD) return IndicatorError::period_too_large();
    if (auto s = check_multiplier(k); !s) return s.error();
    return RegressionBands(n, k);
  }
  std::optional<double> push(double close) {
    win_.push(close);
    if (!win_.full()) return std::nullopt;
    const auto fit = line_.fit(win_);
    double ss = -0.0, i = 0.0;
    win_.for_each([&](double y) {
      const double r = fit.residual(y, i);
      ss += r * r;
      i += 1.0;
    });
    const double n = static_cast<double>(win_.size());
    const double sd = std::sqrt(ss / (kStandardError ? n - 2.0 : n));
    const double mid = line_.newest_value(fit);
    return bands_.set(mid + k_ * sd, mid, mid - k_ * sd);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  RegressionBands(std::size_t n, double k) : win_(n), line_(n), k_(k) {}
  Ring<double> win_;
  LeastSquaresLine line_;
  double k_;
  Bands3 bands_;
};

// ---------------------------------------------------------------- volatility-scaled bands

class Keltner {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<Keltner, IndicatorError> create(std::size_t ema, std::size_t atr, double k) {
    if (auto s = check_multiplier(k); !s) return s.error();
    if (auto s = check_period(ema); !s) return s.error();
    if (auto s = check_period(atr); !s) return s.error();
    return Keltner(ema, atr, k);
  }
  std::optional<double> push(const Candle& c) {
    const double tp = (c.high + c.low + c.close) / 3.0;
    // Refuse the step before either average moves, so the two stay in step: the ATR refuses
    // atomically, and the EMA takes every finite typical price.
    if (!std::isfinite(tp) || !atr_.push(c)) return std::nullopt;
    const auto e = ema_.push(tp);
    if (!e || !std::isfinite(*e) || !atr_.ready()) return std::nullopt;
    const double m = *e, w = k_ * atr_.value();
    return bands_.set(m + w, m, m - w);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return std::max(ema_.period(), atr_.period()); }

 private:
  Keltner(std::size_t ema, std::size_t atr, double k) : ema_(ema), atr_(atr), k_(k) {}
  EmaCore ema_;
  AtrCore atr_;
  double k_;
  Bands3 bands_;
};

class StarcBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<StarcBands, IndicatorError> create(std::size_t sma, std::size_t atr, double k) {
    if (auto s = check_multiplier(k); !s) return s.error();
    if (auto s = check_period(sma); !s) return s.error();
    if (auto s = check_period(atr); !s) return s.error();
    return StarcBands(sma, atr, k);
  }
  std::optional<double> push(const Candle& c) {
    if (!atr_.push(c)) return std::nullopt;
    const auto m = sma_.push(c.close);
    if (!m || !atr_.ready()) return std::nullopt;
    const double w = k_ * atr_.value();
    return bands_.set(*m + w, *m, *m - w);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return std::max(sma_.period(), atr_.period()); }

 private:
  StarcBands(std::size_t sma, std::size_t atr, double k)
      : sma_(rolling_mean(sma)), atr_(atr), k_(k) {}
  RollingMean sma_;
  AtrCore atr_;
  double k_;
  Bands3 bands_;
};

class AtrBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<AtrBands, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_multiplier(k); !s) return s.error();
    if (auto s = check_period(n); !s) return s.error();
    return AtrBands(n, k);
  }
  std::optional<double> push(const Candle& c) {
    if (!atr_.push(c) || !atr_.ready()) return std::nullopt;
    const double w = k_ * atr_.value();
    return bands_.set(c.close + w, c.close, c.close - w);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return atr_.period(); }

 private:
  AtrBands(std::size_t n, double k) : atr_(n), k_(k) {}
  AtrCore atr_;
  double k_;
  Bands3 bands_;
};

// Averages of highs widened and lows narrowed by the candle's relative range.
class AccelerationBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<AccelerationBands, IndicatorError> create(std::size_t n, double factor) {
    if (auto s = check_multiplier(factor); !s) return s.error();
    if (auto s = check_period(n); !s) return s.error();
    return AccelerationBands(n, factor);
  }
  std::optional<double> push(const Candle& c) {
    const double sum = c.high + c.low;
    const double r = sum == 0.0 ? 0.0 : (c.high - c.low) / sum;
    const double wide = c.high * std::fma(factor_, r, 1.0);
    const double narrow = c.low * std::fma(-factor_, r, 1.0);
    // All three averages take the step or none does.
    if (!std::isfinite(wide) || !std::isfinite(narrow)) return std::nullopt;
    const auto u = upper_.push(wide);
    const auto m = middle_.push(c.close);
    const auto l = lower_.push(narrow);
    if (!u || !m || !l) return std::nullopt;
    return bands_.set(*u, *m, *l);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return middle_.period(); }

 private:
  AccelerationBands(std::size_t n, double factor)
      : upper_(rolling_mean(n)), middle_(rolling_mean(n)), lower_(rolling_mean(n)),
        factor_(factor) {}
  RollingMean upper_, middle_, lower_;
  double factor_;
  Bands3 bands_;
};

class HurstChannel {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<HurstChannel, IndicatorError> create(std::size_t n, double k) {
    if (auto s = check_multiplier(k); !s) return s.error();
    if (auto s = check_period(n); !s) return s.error();
    return HurstChannel(n, k);
  }
  std::optional<double> push(const Candle& c) {
    highs_.push(c.high);
    lows_.push(c.low);
    const auto m = sma_.push(c.close);
    if (!m) return std::nullopt;
    double hh = highs_.oldest(), ll = lows_.oldest();
    highs_.for_each([&](double v) { hh = std::max(hh, v); });
    lows_.for_each([&](double v) { ll = std::min(ll, v); });
    const double w = k_ * (hh - ll);
    return bands_.set(*m + w, *m, *m - w);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return sma_.period(); }

 private:
  HurstChannel(std::size_t n, double k) : highs_(n), lows_(n), sma_(rolling_mean(n)), k_(k) {}
  Ring<double> highs_, lows_;
  RollingMean sma_;
  double k_;
  Bands3 bands_;
};

// Cumulative volume-weighted mean of the typical price and its volume-weighted deviation, with
// sums of deviations from the first typical price to keep the variance from cancelling.
class VwapStdDevBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<VwapStdDevBands, IndicatorError> create(double k) {
    if (auto s = check_multiplier(k); !s) return s.error();
    return VwapStdDevBands(k);
  }
  std::optional<double> push(const Candle& c) {
    const double tp = (c.high + c.low + c.close) / 3.0;
    if (!std::isfinite(tp)) return std::nullopt;
    if (!r0_) r0_ = tp;
    const double d = tp - *r0_;
    w_ = w_ + c.volume;
    s1_ = s1_ + c.volume * d;
    s2_ = s2_ + c.volume * (d * d);
    if (w_ == 0.0) return std::nullopt;
    const double m = s1_ / w_;
    const double vwap = *r0_ + m;
    // Clamped only below zero: a NaN from overflowed squares stays missing instead of
    // collapsing the bands onto the VWAP.
    const double var = s2_ / w_ - m * m;
    const double sd = std::sqrt(var < 0.0 ? 0.0 : var);
    extras_ = {vwap + k_ * sd, vwap, vwap - k_ * sd, sd};
    return extras_[0];
  }
  std::span<const double> extras() const { return extras_; }
  std::size_t warmup_period() const { return 1; }

 private:
  explicit VwapStdDevBands(double k) : k_(k) {}
  double k_;
  std::optional<double> r0_;
  double w_ = -0.0, s1_ = -0.0, s2_ = -0.0;
  std::array<double, 4> extras_{};
};

// ---------------------------------------------------------------- range channels

class Donchian {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<Donchian, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Donchian(n);
  }
  std::optional<double> push(const Candle& c) {
    highs_.push(c.high);
    lows_.push(c.low);
    if (!highs_.full()) return std::nullopt;
    double hh = highs_.oldest(), ll = lows_.oldest();
    highs_.for_each([&](double v) { hh = std::max(hh, v); });
    lows_.for_each([&](double v) { ll = std::min(ll, v); });
    return bands_.set(hh, numeric::midpoint(hh, ll), ll);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return highs_.capacity(); }

 private:
  explicit Donchian(std::size_t n) : highs_(n), lows_(n) {}
  Ring<double> highs_, lows_;
  Bands3 bands_;
};

// Levels of the last confirmed fractals: a middle candle whose high (low) strictly beats every
// other candle of a 2n + 1 window.
class FractalChaosBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<FractalChaosBands, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return FractalChaosBands(n);
  }
  std::optional<double> push(const Candle& c) {
    highs_.push(c.high);
    lows_.push(c.low);
    if (!highs_.full()) return std::nullopt;
    const double mh = highs_[n_], ml = lows_[n_];
    bool is_high = true, is_low = true;
    for (std::size_t i = 0; i < highs_.size() && (is_high || is_low); ++i) {
      if (i == n_) continue;
      if (!(mh > highs_[i])) is_high = false;
      if (!(ml < lows_[i])) is_low = false;
    }
    if (is_high) upper_ = mh;
    if (is_low) lower_ = ml;
    if (!upper_ || !lower_) return std::nullopt;
    extras_ = {*upper_, *lower_};
    return *upper_;
  }
  std::span<const double> extras() const { return extras_; }
  // Declared as the first step a fractal can be confirmed; the first value also needs one
  // fractal of each kind, so on real data it usually comes later.
  std::size_t warmup_period() const { return highs_.capacity(); }

 private:
  explicit FractalChaosBands(std::size_t n) : highs_(2 * n + 1), lows_(2 * n + 1), n_(n) {}
  Ring<double> highs_, lows_;
  std::size_t n_;
  std::optional<double> upper_, lower_;
  std::array<double, 2> extras_{};
};

// Each past high (low) carried forward along the window's regression slope to the newest bar.
class ProjectionBands {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<ProjectionBands, IndicatorError> create(std::size_t n) {
    if (n == 0) return IndicatorError::zero_period();
    if (n == 1) return IndicatorError::invalid_period("projection bands need period >= 2");
    if (n > MAX_PERIOD) return IndicatorError::period_too_large();
    return ProjectionBands(n);
  }
  std::optional<double> push(const Candle& c) {
    highs_.push(c.high);
    lows_.push(c.low);
    if (!highs_.full()) return std::nullopt;
    const double bh = line_.fit(highs_).slope, bl = line_.fit(lows_).slope;
    const std::size_t n = highs_.size();
    double up = 0, lo = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double ahead = static_cast<double>(n - 1 - i);
      const double ph = highs_[i] + bh * ahead, pl = lows_[i] + bl * ahead;
      up = i == 0 ? ph : std::max(up, ph);
      lo = i == 0 ? pl : std::min(lo, pl);
    }
    return bands_.set(up, numeric::midpoint(up, lo), lo);
  }
  std::span<const double> extras() const { return bands_.v; }
  std::size_t warmup_period() const { return highs_.capacity(); }

 private:
  explicit ProjectionBands(std::size_t n) : highs_(n), lows_(n), line_(n) {}
  Ring<double> highs_, lows_;
  LeastSquaresLine line_;
  Bands3 bands_;
};

}  // namespace

void register_bands(FamilyTable& t) {
  t.add("BollingerBands",
        [](const Params& p) { return wrap(BollingerBands::create(p.n(0), p.f(1))); }, {20, 2});
  t.add("BollingerBandwidth",
        [](const Params& p) { return wrap(BollingerBandwidth::create(p.n(0), p.f(1))); },
        {20, 2});
  t.add("PercentB", [](const Params& p) { return wrap(PercentB::create(p.n(0), p.f(1))); },
        {20, 2});
  t.add("DoubleBollinger",
        [](const Params& p) { return wrap(DoubleBollinger::create(p.n(0), p.f(1), p.f(2))); },
        {20, 1, 2});
  t.add("MaEnvelope", [](const Params& p) { return wrap(MaEnvelope::create(p.n(0), p.f(1))); },
        {20, 0.025});
  t.add("BomarBands", [](const Params& p) { return wrap(BomarBands::create(p.n(0), p.f(1))); },
        {21, 0.85});
  t.add("QuartileBands", [](const Params& p) { return wrap(QuartileBands::create(p.n(0))); },
        {20});
  t.add("MedianChannel",
        [](const Params& p) { return wrap(MedianChannel::create(p.n(0), p.f(1))); }, {20, 2});
  t.add("LinRegChannel",
        [](const Params& p) { return wrap(RegressionBands<false>::create(p.n(0), p.f(1))); },
        {20, 2});
  t.add("StandardErrorBands",
        [](const Params& p) { return wrap(RegressionBands<true>::create(p.n(0), p.f(1))); },
        {21, 2});
  t.add("Keltner",
        [](const Params& p) { return wrap(Keltner::create(p.n(0), p.n(1), p.f(2))); },
        {20, 10, 2});
  t.add("StarcBands",
        [](const Params& p) { return wrap(StarcBands::create(p.n(0), p.n(1), p.f(2))); },
        {6, 15, 2});
  t.add("AtrBands", [](const Params& p) { return wrap(AtrBands::create(p.n(0), p.f(1))); },
        {14, 2});
  t.add("AccelerationBands",
        [](const Params& p) { return wrap(AccelerationBands::create(p.n(0), p.f(1))); },
        {20, 4});
  t.add("HurstChannel",
        [](const Params& p) { return wrap(HurstChannel::create(p.n(0), p.f(1))); }, {20, 0.5});
  t.add("Donchian", [](const Params& p) { return wrap(Donchian::create(p.n(0))); }, {20});
  t.add("FractalChaosBands",
        [](const Params& p) { return wrap(FractalChaosBands::create(p.n(0))); }, {2});
  t.add("ProjectionBands", [](const Params& p) { return wrap(ProjectionBands::create(p.n(0))); },
        {14});
  t.add("VwapStdDevBands", [](const Params& p) { return wrap(VwapStdDevBands::create(p.f(0))); },
        {2});
}

}  // namespace ostrel
