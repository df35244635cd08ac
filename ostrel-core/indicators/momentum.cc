// Momentum oscillators: rate of change, relative strength and their smoothed relatives.
//
// Every member is a plain value type embedding its cores; the adapter in evaluator.h has already
// refused non-finite closes and invalid candles before `push` runs. The members that are built
// from exponential, weighted or zero-lag averages live in momentum_averages.cc.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>

#include "../numeric/ring.h"
#include "../numeric/rolling_mean.h"
#include "../numeric/rsi_core.h"
#include "../numeric/wma_core.h"
#include "families.h"
#include "momentum_common.h"

namespace ostrel {

void register_momentum_averages(FamilyTable& t);

namespace {

using momentum::check_max;
using momentum::check_nonzero;
using momentum::clamp;
using numeric::Ring;
using numeric::RollingMean;
using numeric::RsiCore;
using numeric::WmaCore;

// ---------------------------------------------------------------------------------------------
// Rate of change over the last n + 1 closes.

enum class RocKind { Mom, Roc, Rocp, Rocr, Rocr100 };

template <RocKind K>
class RateOfChange {
 public:
  static constexpr InputKind kInput = InputKind::Close;

  [[nodiscard]] static Result<RateOfChange, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return RateOfChange(n);
  }

  std::optional<double> push(double close) {
    closes_.push(close);
    if (!closes_.full()) return std::nullopt;
    const double past = closes_.oldest();
    if constexpr (K == RocKind::Mom) {
      return close - past;
    } else {
      // A zero base has no meaningful ratio; the family answers 0 rather than an infinity.
      if (past == 0) return 0.0;
      if constexpr (K == RocKind::Roc) return ((close - past) / past) * 100.0;
      if constexpr (K == RocKind::Rocp) return (close - past) / past;
      if constexpr (K == RocKind::Rocr) return close / past;
      if constexpr (K == RocKind::Rocr100) return (close / past) * 100.0;
    }
  }

  std::size_t warmup_period() const { return closes_.capacity(); }

 private:
  explicit RateOfChange(std::size_t n) : closes_(n + 1) {}
  Ring<double> closes_;
};

using Roc = RateOfChange<RocKind::Roc>;

// ---------------------------------------------------------------------------------------------

class Rsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Rsi, IndicatorError> create(std::size_t n) {
    auto core = RsiCore::create(n);
    if (!core) return core.error();
    return Rsi(*core);
  }
  std::optional<double> push(double close) { return core_.push(close); }
  std::size_t warmup_period() const { return core_.warmup_period(); }

 private:
  explicit Rsi(RsiCore core) : core_(core) {}
  RsiCore core_;
};

// Relative strength from two cascades of double-smoothing stages over the signed and the
// absolute change; smoother than Wilder's form with less lag.
class Rsx {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Rsx, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Rsx(n);
  }

  std::optional<double> push(double close) {
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    const double mom = close - prev_;
    const double amom = std::fabs(close - prev_);
    prev_ = close;
    s1_ = mom * f_ + s1_ * g_;
    s2_ = s2_ * g_ + f_ * s1_;
    const double t1 = s1_ * 1.5 - s2_ * 0.5;
    s3_ = t1 * f_ + s3_ * g_;
    s4_ = s4_ * g_ + f_ * s3_;
    const double t2 = s3_ * 1.5 - s4_ * 0.5;
    s5_ = t2 * f_ + s5_ * g_;
    s6_ = g_ * s6_ + s5_ * f_;
    a1_ = f_ * amom + a1_ * g_;
    a2_ = a2_ * g_ + f_ * a1_;
    const double w1 = a1_ * 1.5 - a2_ * 0.5;
    a3_ = w1 * f_ + a3_ * g_;
    a4_ = a4_ * g_ + f_ * a3_;
    const double w2 = a3_ * 1.5 - a4_ * 0.5;
    a5_ = w2 * f_ + a5_ * g_;
    a6_ = a6_ * g_ + f_ * a5_;
    if (changes_ < n_) ++changes_;
    if (changes_ < n_) return std::nullopt;
    const double den = 1.5 * a5_ - 0.5 * a6_;
    const double v = den > 0 ? ((s6_ * -0.5 + s5_ * 1.5) / den + 1.0) * 50.0 : 50.0;
    return clamp(v, 0.0, 100.0);
  }

  std::size_t warmup_period() const { return n_ + 1; }

 private:
  explicit Rsx(std::size_t n) : n_(n), f_(3.0 / (static_cast<double>(n) + 2.0)), g_(1.0 - f_) {}
  std::size_t n_;
  double f_, g_;
  double prev_ = 0;
  bool has_prev_ = false;
  std::size_t changes_ = 0;
  double s1_ = 0, s2_ = 0, s3_ = 0, s4_ = 0, s5_ = 0, s6_ = 0;
  double a1_ = 0, a2_ = 0, a3_ = 0, a4_ = 0, a5_ = 0, a6_ = 0;
};

// Up and down parts of a change.
struct UpDown {
  double up = 0, down = 0;
};
inline UpDown split(double m) { return {m > 0 ? m : 0.0, m < 0 ? -m : 0.0}; }

// Share of the up average in the total, 50 when there was no movement at all.
inline double strength(double up, double down) {
  if (up + down == 0) return 50.0;
  return up / (down + up) * 100.0;
}

// Relative momentum: Wilder-smoothed ups and downs of the change over a lookback of b closes.
class Rmi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Rmi, IndicatorError> create(std::size_t a, std::size_t b) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    // Both lengths are otherwise unbounded; the engine's window limit keeps the lookback ring
    // and the warm-up count a + b finite and allocatable.
    if (auto s = check_max({a, b}); !s) return s.error();
    return Rmi(a, b);
  }

  std::optional<double> push(double close) {
    if (!closes_.full()) {
      closes_.push(close);
      return std::nullopt;
    }
    double oldest = 0;
    closes_.push(close, &oldest);
    const UpDown ud = split(close - oldest);
    if (seeded_ < a_) {
      sum_up_ += ud.up;
      sum_down_ += ud.down;
      if (++seeded_ < a_) return std::nullopt;
      avg_up_ = sum_up_ / ad_;
      avg_down_ = sum_down_ / ad_;
    } else {
      avg_up_ = (ud.up + am1_ * avg_up_) / ad_;
      avg_down_ = (ud.down + am1_ * avg_down_) / ad_;
    }
    return strength(avg_up_, avg_down_);
  }

  std::size_t warmup_period() const { return a_ + closes_.capacity(); }

 private:
  Rmi(std::size_t a, std::size_t b)
      : closes_(b), a_(a), ad_(static_cast<double>(a)), am1_(static_cast<double>(a) - 1.0) {}
  Ring<double> closes_;
  std::size_t a_;
  double ad_, am1_;
  std::size_t seeded_ = 0;
  double sum_up_ = -0.0, sum_down_ = -0.0;
  double avg_up_ = 0, avg_down_ = 0;
};

// Average of the close's RSI, the RSI of the up/down streak length and the percent rank of the
// latest one-step return.
class ConnorsRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<ConnorsRsi, IndicatorError> create(std::size_t a, std::size_t b,
                                                                 std::size_t c) {
    if (auto s = check_nonzero({a, b, c}); !s) return s.error();
    // The rank window has no stated limit; the engine's window limit bounds it.
    if (auto s = check_max({a, b, c}); !s) return s.error();
    return ConnorsRsi(*RsiCore::create(a), *RsiCore::create(b), c);
  }

  std::optional<double> push(double close) {
    const std::optional<double> r1 = price_.push(close);
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    if (close > prev_) {
      streak_ = std::max(streak_, 0.0) + 1.0;
    } else if (close < prev_) {
      streak_ = std::min(streak_, 0.0) - 1.0;
    } else {
      streak_ = 0.0;
    }
    const std::optional<double> r2 = streak_rsi_.push(streak_);
    if (prev_ != 0) returns_.push((close - prev_) / prev_);
    prev_ = close;
    if (!r1 || !r2 || !returns_.full()) return std::nullopt;
    // After a zero close no return enters the window; the rank is then that of the latest return
    // that did, which is the literal "newest window value".
    const double newest = returns_.newest();
    std::size_t rank = 0;
    returns_.for_each([&](double v) { rank += v < newest ? 1 : 0; });
    return ((*r1 + *r2) + (static_cast<double>(rank) * 100.0) / cd_) / 3.0;
  }

  std::size_t warmup_period() const {
    return std::max({price_.period() + 1, streak_rsi_.period() + 2, returns_.capacity() + 1});
  }

 private:
  ConnorsRsi(RsiCore a, RsiCore b, std::size_t c)
      : price_(a), streak_rsi_(b), returns_(c), cd_(static_cast<double>(c)) {}
  RsiCore price_, streak_rsi_;
  Ring<double> returns_;
  double cd_;
  double prev_ = 0;
  bool has_prev_ = false;
  double streak_ = 0;
};

// Relative strength over a four-stage Laguerre filter; gamma trades smoothness for lag.
class LaguerreRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<LaguerreRsi, IndicatorError> create(double gamma) {
    if (!std::isfinite(gamma) || gamma < 0 || gamma > 1)
      return IndicatorError::invalid_period("LaguerreRSI gamma must be a finite value in [0, 1]");
    return LaguerreRsi(gamma);
  }

  std::optional<double> push(double close) {
    if (!started_) {
      l0_ = l1_ = l2_ = l3_ = close;
      started_ = true;
      return 50.0;
    }
    const double g = g_;
    const double l0p = l0_, l1p = l1_, l2p = l2_, l3p = l3_;
    l0_ = l0p * g + close * (1.0 - g);
    l1_ = l1p * g + (l0p - g * l0_);
    l2_ = l2p * g + (l1p - g * l1_);
    l3_ = g * l3p + (l2p - g * l2_);
    // Both accumulators restart from +0 on every close: they measure this step's spread only.
    double cu = 0.0, cd = 0.0;
    const std::array<std::array<double, 2>, 3> pairs = {{{l0_, l1_}, {l1_, l2_}, {l2_, l3_}}};
    for (const auto& p : pairs) {
      if (p[0] >= p[1]) {
        cu = cu + (p[0] - p[1]);
      } else {
        cd = cd + (p[1] - p[0]);
      }
    }
    if (cu + cd <= 0) return 50.0;
    return clamp(cu * 100.0 / (cd + cu), 0.0, 100.0);
  }

  std::size_t warmup_period() const { return 1; }

 private:
  explicit LaguerreRsi(double g) : g_(g) {}
  double g_;
  bool started_ = false;
  double l0_ = 0, l1_ = 0, l2_ = 0, l3_ = 0;
};

// Relative strength of all gains and losses since the first close, never forgetting.
class AnchoredRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<AnchoredRsi, IndicatorError> create() { return AnchoredRsi(); }

  std::optional<double> push(double close) {
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    const double d = close - prev_;
    prev_ = close;
    if (d > 0) gains_ = d + gains_;
    if (d < 0) losses_ = losses_ - d;
    if (losses_ != 0) return 100.0 - 100.0 / (gains_ / losses_ + 1.0);
    return gains_ == 0 ? 50.0 : 100.0;
  }

  std::size_t warmup_period() const { return 2; }

 private:
  double prev_ = 0;
  bool has_prev_ = false;
  double gains_ = 0, losses_ = 0;
};

// Relative strength whose smoothing speed follows the efficiency ratio of the last n changes.
class AdaptiveRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<AdaptiveRsi, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return AdaptiveRsi(n);
  }

  std::optional<double> push(double close) {
    closes_.push(close);
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    const double diff = close - prev_;
    prev_ = close;
    const double ad = std::fabs(diff);
    if (moves_.full()) {
      double leaving = 0;
      moves_.push(ad, &leaving);
      volatility_ = volatility_ - leaving;
    } else {
      moves_.push(ad);
    }
    volatility_ = ad + volatility_;
    const UpDown ud = split(diff);
    if (seeded_ < n_) {
      sum_up_ += ud.up;
      sum_down_ += ud.down;
      if (++seeded_ < n_) return std::nullopt;
      const double n = static_cast<double>(n_);
      avg_up_ = sum_up_ / n;
      avg_down_ = sum_down_ / n;
    } else {
      double sc = 0.004162330905306971;  // the slowest constant, used when nothing moved
      if (volatility_ != 0) {
        const double er = clamp(std::fabs(close - closes_.oldest()) / volatility_, 0.0, 1.0);
        const double base = er * 0.6021505376344085 + 0.06451612903225806;
        sc = base * base;
      }
      avg_up_ = sc * (ud.up - avg_up_) + avg_up_;
      avg_down_ = sc * (ud.down - avg_down_) + avg_down_;
    }
    return strength(avg_up_, avg_down_);
  }

  std::size_t warmup_period() const { return n_ + 1; }

 private:
  explicit AdaptiveRsi(std::size_t n) : closes_(n + 1), moves_(n), n_(n) {}
  Ring<double> closes_;  // the close n steps back is the oldest once full
  Ring<double> moves_;   // absolute changes behind `volatility_`
  std::size_t n_;
  double prev_ = 0;
  bool has_prev_ = false;
  double volatility_ = 0;
  std::size_t seeded_ = 0;
  double sum_up_ = -0.0, sum_down_ = -0.0;
  double avg_up_ = 0, avg_down_ = 0;
};

// Fisher transform of the RSI, stretching its extremes.
class FisherRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<FisherRsi, IndicatorError> create(std::size_t n) {
    auto core = RsiCore::create(n);
    if (!core) return core.error();
    return FisherRsi(*core);
  }
  std::optional<double> push(double close) {
    const auto r = core_.push(close);
    if (!r) return std::nullopt;
    const double v = clamp((*r + -50.0) / 50.0, -0.999, 0.999);
    return std::log((1.0 + v) / (1.0 - v)) * 0.5;
  }
  std::size_t warmup_period() const { return core_.warmup_period(); }

 private:
  explicit FisherRsi(RsiCore core) : core_(core) {}
  RsiCore core_;
};

// Smallest and largest value held by a ring (it must not be empty).
template <class R>
std::pair<double, double> min_max(const R& ring) {
  double lo = ring.oldest(), hi = lo;
  ring.for_each([&](double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  });
  return {lo, hi};
}

// Where the RSI sits within its own range over the last c values.
class StochRsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<StochRsi, IndicatorError> create(std::size_t a, std::size_t c) {
    if (auto s = check_nonzero({a, c}); !s) return s.error();
    // The stochastic window has no stated limit; the engine's window limit bounds it.
    if (auto s = check_max({a, c}); !s) return s.error();
    return StochRsi(*RsiCore::create(a), c);
  }

  std::optional<double> push(double close) {
    const auto r = rsi_.push(close);
    if (!r) return std::nullopt;
    window_.push(*r);
    if (!window_.full()) return std::nullopt;
    const auto [lo, hi] = min_max(window_);
    const double range = hi - lo;
    if (range == 0) return 50.0;
    return ((*r - lo) * 100.0) / range;
  }

  std::size_t warmup_period() const { return rsi_.period() + window_.capacity(); }

 private:
  StochRsi(RsiCore a, std::size_t c) : rsi_(a), window_(c) {}
  RsiCore rsi_;
  Ring<double> window_;
};

// Relative strength over a lookback that shortens when volatility is high relative to its mean.
class DynamicMomentumIndex {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<DynamicMomentumIndex, IndicatorError> create(std::size_t p) {
    if (auto s = check_period(p); !s) return s.error();
    return DynamicMomentumIndex(p, *RollingMean::create(10));
  }

  std::optional<double> push(double close) {
    const std::optional<double> sd = push_deviation(close);
    const std::optional<double> sd_mean = sd ? sd_mean_.push(*sd) : std::nullopt;
    if (has_prev_) changes_.push(close - prev_);
    prev_ = close;
    has_prev_ = true;
    if (!sd || !sd_mean || !changes_.full()) return std::nullopt;

    std::size_t period = kMaxLookback;
    if (*sd > 0 && *sd_mean > 0) {
      double q = std::round(p_ / (*sd / *sd_mean));
      // Below 6 the period becomes 5, exactly as defined (not 6): the shortest lookback used.
      if (q < 6) q = 5;
      // Also catches a NaN ratio (both deviations overflowed), which has no usable period.
      if (q <= static_cast<double>(kMaxLookback)) period = static_cast<std::size_t>(q);
    }
    double up = -0.0, down = -0.0;
    for (std::size_t i = kMaxLookback - period; i < kMaxLookback; ++i) {
      const double c = changes_[i];
      if (c > 0) up += c;
      if (c < 0) down += -c;
    }
    return strength(up, down);
  }

  std::size_t warmup_period() const { return kMaxLookback + 1; }

 private:
  static constexpr std::size_t kSpan = 5;
  static constexpr std::size_t kMaxLookback = 30;

  DynamicMomentumIndex(std::size_t p, RollingMean mean)
      : p_(static_cast<double>(p)),
        window_(kSpan),
        sd_mean_(std::move(mean)),
        changes_(kMaxLookback) {}

  // Population standard deviation of the last five closes. The sums are kept about a shift
  // (first the first close, then the window mean, re-centred every five updates) so that large
  // price levels do not cancel the variance away. The re-centring runs before the deviation is
  // read, as the rolling mean re-sums before it answers; so the first deviation (fifth close)
  // already uses the window mean and the initial shift never shows in any output.
  std::optional<double> push_deviation(double x) {
    if (!has_shift_) {
      shift_ = x;
      has_shift_ = true;
    }
    if (window_.full()) {
      double leaving = 0;
      window_.push(x, &leaving);
      const double dev = leaving - shift_;
      d_ = d_ - dev;
      e_ = e_ - dev * dev;
    } else {
      window_.push(x);
    }
    const double dev = x - shift_;
    d_ = dev + d_;
    e_ = dev * dev + e_;
    if (++updates_ == kSpan) {
      updates_ = 0;
      double sum = -0.0;
      window_.for_each([&](double v) { sum += v; });
      shift_ = sum / static_cast<double>(kSpan);
      double d = -0.0, e = -0.0;
      window_.for_each([&](double v) {
        d += v - shift_;
        e += (v - shift_) * (v - shift_);
      });
      d_ = d;
      e_ = e;
    }
    if (!window_.full()) return std::nullopt;
    const double n = static_cast<double>(kSpan);
    return std::sqrt(std::max(e_ / n - (d_ / n) * (d_ / n), 0.0));
  }

  double p_;
  Ring<double> window_;
  double shift_ = 0;
  bool has_shift_ = false;
  double d_ = 0, e_ = 0;
  std::size_t updates_ = 0;
  RollingMean sd_mean_;
  Ring<double> changes_;
  double prev_ = 0;
  bool has_prev_ = false;
};

// Relative strength of the bodies (close - open) of the last n candles.
class IntradayMomentumIndex {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  [[nodiscard]] static Result<IntradayMomentumIndex, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return IntradayMomentumIndex(n);
  }

  std::optional<double> push(const Candle& c) {
    const UpDown ud = split(c.close - c.open);
    if (window_.full()) {
      UpDown leaving;
      window_.push(ud, &leaving);
      su_ = su_ - leaving.up;
      sd_ = sd_ - leaving.down;
      ups_ -= leaving.up > 0;
      downs_ -= leaving.down > 0;
    } else {
      window_.push(ud);
    }
    su_ = ud.up + su_;
    sd_ = ud.down + sd_;
    ups_ += ud.up > 0;
    downs_ += ud.down > 0;
    // Subtracting the leaving bodies leaves rounding residue in the running sums. Once no body of
    // one direction is left in the window its sum is exactly zero; keeping the residue would read
    // a window of flat bars as 0 or 100 instead of 50.
    if (ups_ == 0) su_ = 0.0;
    if (downs_ == 0) sd_ = 0.0;
    if (!window_.full()) return std::nullopt;
    const double total = sd_ + su_;
    if (total == 0) return 50.0;
    return (su_ * 100.0) / total;
  }

  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  explicit IntradayMomentumIndex(std::size_t n) : window_(n) {}
  Ring<UpDown> window_;
  double su_ = 0, sd_ = 0;
  std::size_t ups_ = 0, downs_ = 0;  // window entries with a positive up / down part
};

// Trend intensity: the share of positive deviations from the moving average over a window.
class Tii {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Tii, IndicatorError> create(std::size_t p, std::size_t w) {
    if (auto s = check_nonzero({p, w}); !s) return s.error();
    // The deviation window has no stated limit; the engine's window limit bounds it.
    if (auto s = check_max({p, w}); !s) return s.error();
    return Tii(*RollingMean::create(p), w);
  }

  std::optional<double> push(double close) {
    const auto mean = mean_.push(close);
    if (!mean) return std::nullopt;
    const double dev = close - *mean;
    if (devs_.full()) {
      double f = 0;
      devs_.push(dev, &f);
      if (f > 0) pos_ = pos_ - f;
      if (f < 0) neg_ = f + neg_;
      positives_ -= f > 0;
      negatives_ -= f < 0;
    } else {
      devs_.push(dev);
    }
    positives_ += dev > 0;
    negatives_ += dev < 0;
    if (dev > 0) pos_ = dev + pos_;
    if (dev < 0) neg_ = -dev + neg_;
    // As for the intraday index: a sign no longer present in the window contributes exactly
    // zero, not the rounding residue of the subtractions.
    if (positives_ == 0) pos_ = 0.0;
    if (negatives_ == 0) neg_ = 0.0;
    if (!devs_.full()) return std::nullopt;
    if (pos_ + neg_ <= 0) return 50.0;
    return clamp(pos_ * 100.0 / (neg_ + pos_), 0.0, 100.0);
  }

  std::size_t warmup_period() const { return mean_.period() + devs_.capacity() - 1; }

 private:
  Tii(RollingMean mean, std::size_t w) : mean_(std::move(mean)), devs_(w) {}
  RollingMean mean_;
  Ring<double> devs_;
  double pos_ = 0, neg_ = 0;
  std::size_t positives_ = 0, negatives_ = 0;  // window deviations of each sign
};

// Exponential smoother whose first output is its first input.
class FirstValueSmoother {
 public:
  explicit FirstValueSmoother(std::size_t p)
      : alpha_(2.0 / static_cast<double>(p)), one_minus_alpha_(1.0 - alpha_) {}
  double push(double x) {
    value_ = started_ ? std::fma(alpha_, x, one_minus_alpha_ * value_) : x;
    started_ = true;
    return value_;
  }

 private:
  double alpha_, one_minus_alpha_;
  bool started_ = false;
  double value_ = 0;
};

// Price momentum oscillator: a doubly smoothed one-step rate of change.
class Pmo {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Pmo, IndicatorError> create(std::size_t p1, std::size_t p2) {
    if (auto s = check_nonzero({p1, p2}); !s) return s.error();
    if (p1 < 2 || p2 < 2)
      return IndicatorError::invalid_period("PMO smoothing periods must be >= 2");
    if (auto s = check_max({p1, p2}); !s) return s.error();
    return Pmo(p1, p2);
  }

  std::optional<double> push(double close) {
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    const double roc = prev_ == 0 ? 0.0 : (close / prev_ + -1.0) * 100.0;
    prev_ = close;
    if (!std::isfinite(roc)) return std::nullopt;
    const double v = first_.push(roc) * 10.0;
    if (!std::isfinite(v)) return std::nullopt;
    return second_.push(v);
  }

  std::size_t warmup_period() const { return 2; }

 private:
  Pmo(std::size_t p1, std::size_t p2) : first_(p1), second_(p2) {}
  double prev_ = 0;
  bool has_prev_ = false;
  FirstValueSmoother first_, second_;
};

// Know-sure-thing: a weighted sum of four averaged rates of change, with its own average.
class Kst {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Kst, IndicatorError> create(const Params& p) {
    const std::size_t r1 = p.n(0), r2 = p.n(1), r3 = p.n(2), r4 = p.n(3);
    const std::size_t s1 = p.n(4), s2 = p.n(5), s3 = p.n(6), s4 = p.n(7), q = p.n(8);
    if (auto s = check_nonzero({r1, r2, r3, r4, s1, s2, s3, s4, q}); !s) return s.error();
    if (auto s = check_max({r1, r2, r3, r4, s1, s2, s3, s4, q}); !s) return s.error();
    return Kst({*Roc::create(r1), *Roc::create(r2), *Roc::create(r3), *Roc::create(r4)},
               {*RollingMean::create(s1), *RollingMean::create(s2), *RollingMean::create(s3),
                *RollingMean::create(s4)},
               *RollingMean::create(q));
  }

  std::optional<double> push(double close) {
    std::array<std::optional<double>, 4> m;
    for (std::size_t k = 0; k < 4; ++k) {
      const auto r = rocs_[k].push(close);
      if (r) m[k] = means_[k].push(*r);
    }
    if (!m[0] || !m[1] || !m[2] || !m[3]) return std::nullopt;
    const double kst = ((*m[0] + (*m[1] + *m[1])) + *m[2] * 3.0) + *m[3] * 4.0;
    const auto sig = signal_.push(kst);
    if (!sig) return std::nullopt;
    extras_ = {kst, *sig};
    return kst;
  }

  std::size_t warmup_period() const {
    std::size_t w = 0;
    for (std::size_t k = 0; k < 4; ++k)
      w = std::max(w, rocs_[k].warmup_period() - 1 + means_[k].period());
    return w + signal_.period() - 1;
  }
  std::span<const double> extras() const { return extras_; }

 private:
  Kst(std::array<Roc, 4> rocs, std::array<RollingMean, 4> means, RollingMean signal)
      : rocs_(std::move(rocs)), means_(std::move(means)), signal_(std::move(signal)) {}
  std::array<Roc, 4> rocs_;
  std::array<RollingMean, 4> means_;
  RollingMean signal_;
  std::array<double, 2> extras_{};
};

// Coppock curve: a weighted average of the sum of two rates of change.
class Coppock {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Coppock, IndicatorError> create(std::size_t a, std::size_t b,
                                                              std::size_t c) {
    if (auto s = check_nonzero({a, b, c}); !s) return s.error();
    if (auto s = check_max({a, b, c}); !s) return s.error();
    return Coppock(*Roc::create(a), *Roc::create(b), WmaCore(c));
  }

  std::optional<double> push(double close) {
    const auto ra = first_.push(close);
    const auto rb = second_.push(close);
    if (!ra || !rb) return std::nullopt;
    return wma_.push(*ra + *rb);
  }

  std::size_t warmup_period() const {
    return std::max(first_.warmup_period(), second_.warmup_period()) - 1 + wma_.period();
  }

 private:
  Coppock(Roc a, Roc b, WmaCore wma)
      : first_(std::move(a)), second_(std::move(b)), wma_(std::move(wma)) {}
  Roc first_, second_;
  WmaCore wma_;
};

// Distance of the close from its moving average, in percent of the average.
class DisparityIndex {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<DisparityIndex, IndicatorError> create(std::size_t n) {
    auto mean = RollingMean::create(n);
    if (!mean) return mean.error();
    return DisparityIndex(std::move(*mean));
  }
  std::optional<double> push(double close) {
    const auto mean = mean_.push(close);
    if (!mean) return std::nullopt;
    if (*mean == 0) return 0.0;
    return ((close - *mean) * 100.0) / *mean;
  }
  std::size_t warmup_period() const { return mean_.period(); }

 private:
  explicit DisparityIndex(RollingMean mean) : mean_(std::move(mean)) {}
  RollingMean mean_;
};

// Detrended price: a past close against the current average, removing the trend the average
// follows and leaving the shorter cycles.
class Dpo {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Dpo, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Dpo(n);
  }

  std::optional<double> push(double close) {
    const std::size_t held = closes_.size();
    if (held >= n_) {
      sum_ = close + (sum_ - closes_[held - n_]);
    } else {
      sum_ = close + sum_;
    }
    closes_.push(close);
    // Re-summed exactly every n updates to bound the drift of the incremental sum.
    if (++updates_ == n_) {
      updates_ = 0;
      const std::size_t size = closes_.size();
      const std::size_t count = std::min(size, n_);
      double s = -0.0;
      for (std::size_t i = size - count; i < size; ++i) s += closes_[i];
      sum_ = s;
    }
    if (!closes_.full()) return std::nullopt;
    return closes_[closes_.size() - 1 - shift_] - sum_ / static_cast<double>(n_);
  }

  std::size_t warmup_period() const { return closes_.capacity(); }

 private:
  explicit Dpo(std::size_t n) : closes_(std::max(n, n / 2 + 2)), n_(n), shift_(n / 2 + 1) {}
  Ring<double> closes_;
  std::size_t n_;
  std::size_t shift_;
  double sum_ = 0;
  std::size_t updates_ = 0;
};

}  // namespace

void register_momentum(FamilyTable& t) {
  t.add("Mom", [](const Params& p) { return wrap(RateOfChange<RocKind::Mom>::create(p.n(0))); },
        {10});
  t.add("Roc", [](const Params& p) { return wrap(RateOfChange<RocKind::Roc>::create(p.n(0))); },
        {10});
  t.add("Rocp", [](const Params& p) { return wrap(RateOfChange<RocKind::Rocp>::create(p.n(0))); },
        {10});
  t.add("Rocr", [](const Params& p) { return wrap(RateOfChange<RocKind::Rocr>::create(p.n(0))); },
        {10});
  t.add("Rocr100",
        [](const Params& p) { return wrap(RateOfChange<RocKind::Rocr100>::create(p.n(0))); }, {10});
  t.add("Rsi", [](const Params& p) { return wrap(Rsi::create(p.n(0))); }, {14});
  t.add("Rsx", [](const Params& p) { return wrap(Rsx::create(p.n(0))); }, {14});
  t.add("Rmi", [](const Params& p) { return wrap(Rmi::create(p.n(0), p.n(1))); }, {20, 5});
  t.add("ConnorsRsi",
        [](const Params& p) { return wrap(ConnorsRsi::create(p.n(0), p.n(1), p.n(2))); },
        {3, 2, 100});
  t.add("LaguerreRsi", [](const Params& p) { return wrap(LaguerreRsi::create(p.f(0))); }, {0.5});
  t.add("AnchoredRsi", [](const Params&) { return wrap(AnchoredRsi::create()); }, {});
  t.add("AdaptiveRsi", [](const Params& p) { return wrap(AdaptiveRsi::create(p.n(0))); }, {14});
  t.add("FisherRsi", [](const Params& p) { return wrap(FisherRsi::create(p.n(0))); }, {14});
  t.add("StochRsi", [](const Params& p) { return wrap(StochRsi::create(p.n(0), p.n(1))); },
        {14, 14});
  t.add("DynamicMomentumIndex",
        [](const Params& p) { return wrap(DynamicMomentumIndex::create(p.n(0))); }, {14});
  t.add("IntradayMomentumIndex",
        [](const Params& p) { return wrap(IntradayMomentumIndex::create(p.n(0))); }, {14});
  t.add("Tii", [](const Params& p) { return wrap(Tii::create(p.n(0), p.n(1))); }, {60, 30});
  t.add("Pmo", [](const Params& p) { return wrap(Pmo::create(p.n(0), p.n(1))); }, {35, 20});
  t.add("Kst", [](const Params& p) { return wrap(Kst::create(p)); },
        {10, 15, 20, 30, 10, 10, 10, 15, 9});
  t.add("Coppock", [](const Params& p) { return wrap(Coppock::create(p.n(0), p.n(1), p.n(2))); },
        {14, 11, 10});
  t.add("DisparityIndex", [](const Params& p) { return wrap(DisparityIndex::create(p.n(0))); },
        {14});
  t.add("Dpo", [](const Params& p) { return wrap(Dpo::create(p.n(0))); }, {20});
  register_momentum_averages(t);
}

}  // namespace ostrel
