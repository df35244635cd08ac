// Volatility and range estimators: true range and its averages, close-to-close and range-based
// estimators, conditional-variance models, jump and vol-of-vol measures and the volatility cone.
//
// Shared rule: an intermediate result that is not finite (a range or log return that overflows,
// the log of a non-positive price) yields no value and stays out of every window and average:
// letting it into a running sum would turn every later value into NaN. The previous close still
// moves on to the step's close, so that a zero or negative close (or a change of sign) costs
// one return instead of freezing the member on a price no later close can form a return with.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../numeric/calendar_day.h"
#include "../numeric/ema_core.h"
#include "../numeric/order_selection.h"
#include "../numeric/quantile.h"
#include "../numeric/rolling_sum.h"
#include "../numeric/running_variance.h"
#include "../numeric/true_range.h"
#include "../numeric/wilder_fma.h"
#include "../numeric/window_sum.h"
#include "families.h"

namespace ostrel {
namespace {

using numeric::AtrCore;
using numeric::EmaCore;
using numeric::Ring;
using numeric::RollingSum;
using numeric::RunningWindowSum;
using numeric::ShiftedRunningVariance;
using numeric::WilderFma;

using Status = ostrel::Status<IndicatorError>;

// Length checks every windowed member applies: 0 first, then the maximum.
Status check_max(std::size_t n) {
  if (n > MAX_PERIOD) return IndicatorError::period_too_large();
  return Ok{};
}
Status check_zero(std::size_t n) {
  if (n == 0) return IndicatorError::zero_period();
  return Ok{};
}

// sqrt(periods per year), computed once per member.
double annualiser(std::size_t periods_per_year) {
  return std::sqrt(static_cast<double>(periods_per_year));
}
// A per-period variance as an annualised standard deviation in percent.
double annualised_percent(double root_ppy, double variance) {
  return root_ppy * std::sqrt(std::max(0.0, variance)) * 100.0;
}

// ln(close / previous close) with the previous close kept across steps; the first close only
// primes it. Every close becomes the previous close, also one whose return is not finite
// (Refused: the caller yields no value and leaves its windows alone).
class LogReturns {
 public:
  enum class Outcome { Refused, Primed, Return };
  Outcome next(double close, double& r) {
    const std::optional<double> prev = prev_;
    prev_ = close;
    if (!prev) return Outcome::Primed;
    r = std::log(close / *prev);
    return std::isfinite(r) ? Outcome::Return : Outcome::Refused;
  }

 private:
  std::optional<double> prev_;
};

// ---------------------------------------------------------------- true range family

class TrueRange {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<TrueRange, IndicatorError> create() { return TrueRange{}; }
  std::optional<double> push(const Candle& c) {
    const double tr = numeric::true_range(c, prev_);
    if (!std::isfinite(tr)) return std::nullopt;
    prev_ = c.close;
    return tr;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  std::optional<double> prev_;
};

class Atr {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<Atr, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Atr(n);
  }
  std::optional<double> push(const Candle& c) {
    if (!atr_.push(c) || !atr_.ready()) return std::nullopt;
    return atr_.value();
  }
  std::size_t warmup_period() const { return atr_.period(); }

 private:
  explicit Atr(std::size_t n) : atr_(n) {}
  AtrCore atr_;
};

class Natr {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<Natr, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Natr(n);
  }
  std::optional<double> push(const Candle& c) {
    if (!atr_.push(c) || !atr_.ready()) return std::nullopt;
    if (c.close == 0.0) return 0.0;
    return 100.0 * atr_.value() / c.close;
  }
  std::size_t warmup_period() const { return atr_.period(); }

 private:
  explicit Natr(std::size_t n) : atr_(n) {}
  AtrCore atr_;
};

class HighLowRange {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<HighLowRange, IndicatorError> create() { return HighLowRange{}; }
  std::optional<double> push(const Candle& c) {
    const double r = c.high - c.low;
    if (!std::isfinite(r)) return std::nullopt;
    if (c.close == 0.0) return 0.0;
    return r / c.close;
  }
  std::size_t warmup_period() const { return 1; }
};

// True range over its own smoothed value from before this candle.
class VolatilityRatio {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<VolatilityRatio, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return VolatilityRatio(n);
  }
  std::optional<double> push(const Candle& c) {
    if (!prev_) {
      prev_ = c.close;
      return std::nullopt;
    }
    const double tr = numeric::true_range(c, prev_);
    if (!std::isfinite(tr)) return std::nullopt;
    const bool was_ready = smooth_.ready();
    const double divisor = smooth_.value();
    smooth_.push(tr);
    prev_ = c.close;
    if (!was_ready) return std::nullopt;  // includes the step that seeds the average
    return divisor > 0.0 ? tr / divisor : 0.0;
  }
  std::size_t warmup_period() const { return smooth_.period() + 2; }

 private:
  explicit VolatilityRatio(std::size_t n) : smooth_(n) {}
  std::optional<double> prev_;
  EmaCore smooth_;
};

// ---------------------------------------------------------------- calendar range

class AverageDailyRange {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<AverageDailyRange, IndicatorError> create(std::size_t days, std::int32_t offset) {
    if (auto s = check_period(days); !s) return s.error();
    return AverageDailyRange(days, offset);
  }
  std::optional<double> push(const Candle& c) {
    const std::int64_t day = numeric::local_day(c.ts, offset_).number;
    if (!day_) {
      start_day(day, c);
    } else if (day != *day_) {  // any change of date, backwards too, starts a new day
      const double range = high_ - low_;
      // A range that overflows cannot enter the running sum without poisoning it; that day is
      // dropped and this step answers nothing.
      const bool usable = std::isfinite(range);
      if (usable) ranges_.push(range);
      start_day(day, c);
      if (!usable) return std::nullopt;
    } else {
      high_ = std::max(high_, c.high);
      low_ = std::min(low_, c.low);
    }
    if (ranges_.size() == 0) return std::nullopt;
    return ranges_.sum() / static_cast<double>(ranges_.size());
  }
  // The catalogue's declared warm-up; the first value really arrives on the first candle of
  // the second calendar day, which depends on the timestamps.
  std::size_t warmup_period() const { return ranges_.capacity(); }

 private:
  AverageDailyRange(std::size_t days, std::int32_t offset)
      : offset_(offset), ranges_(days) {}
  void start_day(std::int64_t day, const Candle& c) {
    day_ = day;
    high_ = c.high;
    low_ = c.low;
  }
  std::int32_t offset_;
  std::optional<std::int64_t> day_;
  double high_ = 0, low_ = 0;
  RunningWindowSum ranges_;
};

// ---------------------------------------------------------------- EMA of the range

class ChaikinVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<ChaikinVolatility, IndicatorError> create(std::size_t ema, std::size_t roc) {
    if (auto s = check_zero(ema); !s) return s.error();
    if (auto s = check_zero(roc); !s) return s.error();
    if (auto s = check_max(ema); !s) return s.error();
    if (auto s = check_max(roc); !s) return s.error();
    return ChaikinVolatility(ema, roc);
  }
  std::optional<double> push(const Candle& c) {
    const double range = c.high - c.low;
    if (!std::isfinite(range)) return std::nullopt;
    const auto e = ema_.push(range);
    if (!e || !std::isfinite(*e)) return std::nullopt;
    emas_.push(*e);
    if (!emas_.full()) return std::nullopt;
    const double oldest = emas_.oldest();
    if (oldest == 0.0) return 0.0;
    return (emas_.newest() - oldest) / oldest * 100.0;
  }
  std::size_t warmup_period() const { return ema_.period() + emas_.capacity() - 1; }

 private:
  ChaikinVolatility(std::size_t ema, std::size_t roc) : ema_(ema), emas_(roc + 1) {}
  EmaCore ema_;
  Ring<double> emas_;
};

class MassIndex {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<MassIndex, IndicatorError> create(std::size_t ema, std::size_t sum) {
    if (auto s = check_zero(ema); !s) return s.error();
    if (auto s = check_zero(sum); !s) return s.error();
    if (auto s = check_max(ema); !s) return s.error();
    if (auto s = check_max(sum); !s) return s.error();
    return MassIndex(ema, sum);
  }
  std::optional<double> push(const Candle& c) {
    const double range = c.high - c.low;
    if (!std::isfinite(range)) return std::nullopt;
    const auto e1 = single_.push(range);
    if (!e1 || !std::isfinite(*e1)) return std::nullopt;
    const auto e2 = double_.push(*e1);
    if (!e2 || !std::isfinite(*e2)) return std::nullopt;
    ratios_.push(*e2 == 0.0 ? 1.0 : *e1 / *e2);
    if (!ratios_.full()) return std::nullopt;
    return ratios_.sum();
  }
  std::size_t warmup_period() const { return ratios_.capacity() + 2 * single_.period() - 2; }

 private:
  MassIndex(std::size_t ema, std::size_t sum)
      : single_(ema), double_(ema), ratios_(sum) {}
  EmaCore single_, double_;
  RunningWindowSum ratios_;
};

// ---------------------------------------------------------------- log-return estimators

class HistoricalVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<HistoricalVolatility, IndicatorError> create(std::size_t n, std::size_t ppy) {
    if (auto s = check_zero(n); !s) return s.error();
    if (auto s = check_zero(ppy); !s) return s.error();
    if (n == 1) return IndicatorError::invalid_period("historical volatility period must be >= 2");
    if (auto s = check_max(n); !s) return s.error();
    return HistoricalVolatility(n, ppy);
  }
  std::optional<double> push(double close) {
    double r = 0;
    if (returns_.next(close, r) != LogReturns::Outcome::Return) return std::nullopt;
    var_.push(r);
    if (!var_.full()) return std::nullopt;
    return annualised_percent(root_ppy_, var_.sample_variance());
  }
  std::size_t warmup_period() const { return n_ + 1; }

 private:
  HistoricalVolatility(std::size_t n, std::size_t ppy)
      : var_(n), n_(n), root_ppy_(annualiser(ppy)) {}
  LogReturns returns_;
  ShiftedRunningVariance var_;
  std::size_t n_;
  double root_ppy_;
};

class RealizedVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<RealizedVolatility, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return RealizedVolatility(n);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    const double sq = r * r;
    if (!std::isfinite(sq)) return std::nullopt;
    squares_.push(sq);
    if (!squares_.full()) return std::nullopt;
    return std::sqrt(std::max(0.0, squares_.sum()));
  }
  std::size_t warmup_period() const { return squares_.period() + 1; }

 private:
  explicit RealizedVolatility(std::size_t n) : squares_(n) {}
  LogReturns returns_;
  RollingSum squares_;
};

// Sum of |r_i * r_(i-1)| over the adjacent pairs of the window, kept incrementally and
// recomputed exactly every n pushes.
class BipowerVariation {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<BipowerVariation, IndicatorError> create(std::size_t n) {
    if (auto s = check_zero(n); !s) return s.error();
    if (n == 1) return IndicatorError::invalid_period("bipower variation period must be >= 2");
    if (auto s = check_max(n); !s) return s.error();
    return BipowerVariation(n);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    if (win_.empty()) {
      win_.push(r);
    } else {
      const double add = std::fabs(r * win_.newest());
      if (win_.full()) {
        const double sub = std::fabs(win_[0] * win_[1]);
        win_.push(r);
        sum_ = add + (sum_ - sub);
      } else {
        win_.push(r);
        sum_ = add + sum_;
      }
    }
    if (++pushes_ == win_.capacity()) {
      double s = -0.0;
      for (std::size_t i = 1; i < win_.size(); ++i) s += std::fabs(win_[i] * win_[i - 1]);
      sum_ = s;
      pushes_ = 0;
    }
    if (!win_.full()) return std::nullopt;
    return kHalfPi * std::max(0.0, sum_);
  }
  std::size_t warmup_period() const { return win_.capacity() + 1; }

 private:
  static constexpr double kHalfPi = 1.5707963267948966;
  explicit BipowerVariation(std::size_t n) : win_(n) {}
  LogReturns returns_;
  Ring<double> win_;
  double sum_ = -0.0;
  std::size_t pushes_ = 0;
};

// The current return against the mean and spread of the previous n returns.
class JumpIndicator {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<JumpIndicator, IndicatorError> create(std::size_t n, double threshold) {
    if (n < 2) return IndicatorError::invalid_period("jump indicator needs period >= 2");
    if (auto s = check_max(n); !s) return s.error();
    if (!std::isfinite(threshold) || !(threshold > 0.0))
      return IndicatorError::invalid_parameter(
          "jump indicator threshold must be finite and positive");
    return JumpIndicator(n, threshold);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    std::optional<double> out;
    if (var_.full()) {
      // Rounding residue in the running sums can leave a tiny positive variance over a window
      // of identical returns, which would turn any small move after a flat run into a jump.
      const double v = equal_run_ >= n_ ? 0.0 : var_.sample_variance();
      if (v == 0.0) {
        out = 0.0;
      } else {
        const double s = std::sqrt(v);
        const double d = r - var_.mean();
        out = d > threshold_ * s ? 1.0 : d < -threshold_ * s ? -1.0 : 0.0;
      }
    }
    var_.push(r);
    equal_run_ = equal_run_ > 0 && r == last_ ? std::min(equal_run_ + 1, n_) : 1;
    last_ = r;
    return out;
  }
  std::size_t warmup_period() const { return n_ + 2; }

 private:
  JumpIndicator(std::size_t n, double threshold) : var_(n), n_(n), threshold_(threshold) {}
  LogReturns returns_;
  ShiftedRunningVariance var_;
  std::size_t n_;
  double threshold_;
  std::size_t equal_run_ = 0;  // newest returns in the window that equal the newest one
  double last_ = 0.0;
};

class EwmaVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<EwmaVolatility, IndicatorError> create(double lambda) {
    if (!std::isfinite(lambda) || !(lambda > 0.0) || !(lambda < 1.0))
      return IndicatorError::invalid_parameter(
          "EWMA volatility lambda must be in the open interval (0, 1)");
    return EwmaVolatility(lambda);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    const double sq = r * r;
    const double v = started_ ? (1.0 - lambda_) * sq + lambda_ * v_ : sq;
    if (!std::isfinite(v)) return std::nullopt;
    v_ = v;
    started_ = true;
    return std::sqrt(std::max(0.0, v_));
  }
  std::size_t warmup_period() const { return 2; }

 private:
  explicit EwmaVolatility(double lambda) : lambda_(lambda) {}
  LogReturns returns_;
  double lambda_;
  bool started_ = false;
  double v_ = 0.0;
};

// GARCH(1,1): the current return enters only the next step's variance.
class Garch11 {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<Garch11, IndicatorError> create(double omega, double alpha, double beta) {
    if (!std::isfinite(omega) || !std::isfinite(alpha) || !std::isfinite(beta))
      return IndicatorError::invalid_parameter("GARCH(1,1) parameters must be finite");
    if (!(omega > 0.0)) return IndicatorError::invalid_parameter("GARCH(1,1) omega must be > 0");
    if (alpha < 0.0 || beta < 0.0)
      return IndicatorError::invalid_parameter("GARCH(1,1) alpha and beta must be >= 0");
    if (!(alpha + beta < 1.0))
      return IndicatorError::invalid_parameter(
          "GARCH(1,1) requires alpha + beta < 1 (covariance stationarity)");
    return Garch11(omega, alpha, beta);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    const double sq = r * r;
    const double h = started_ ? omega_ + alpha_ * r2_prev_ + beta_ * h_prev_ : h0_;
    if (!std::isfinite(sq) || !std::isfinite(h)) return std::nullopt;
    started_ = true;
    h_prev_ = h;
    r2_prev_ = sq;
    return std::sqrt(h);
  }
  std::size_t warmup_period() const { return 2; }

 private:
  Garch11(double omega, double alpha, double beta)
      : omega_(omega), alpha_(alpha), beta_(beta), h0_(omega / (1.0 - alpha - beta)) {}
  LogReturns returns_;
  double omega_, alpha_, beta_, h0_;
  bool started_ = false;
  double h_prev_ = 0.0, r2_prev_ = 0.0;
};

class VolatilityOfVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<VolatilityOfVolatility, IndicatorError> create(std::size_t vol, std::size_t vov) {
    if (auto s = check_zero(vol); !s) return s.error();
    if (auto s = check_zero(vov); !s) return s.error();
    if (vol == 1 || vov == 1)
      return IndicatorError::invalid_period("vol-of-vol windows must both be >= 2");
    if (auto s = check_max(vol); !s) return s.error();
    if (auto s = check_max(vov); !s) return s.error();
    return VolatilityOfVolatility(vol, vov);
  }
  std::optional<double> push(double close) {
    double r = 0;
    const auto o = returns_.next(close, r);
    if (o != LogReturns::Outcome::Return) return std::nullopt;
    returns_var_.push(r);
    if (!returns_var_.full()) return std::nullopt;
    vols_var_.push(std::sqrt(returns_var_.sample_variance()));
    if (!vols_var_.full()) return std::nullopt;
    return std::sqrt(vols_var_.sample_variance());
  }
  std::size_t warmup_period() const { return vol_ + vov_; }

 private:
  VolatilityOfVolatility(std::size_t vol, std::size_t vov)
      : returns_var_(vol), vols_var_(vov), vol_(vol), vov_(vov) {}
  LogReturns returns_;
  ShiftedRunningVariance returns_var_, vols_var_;
  std::size_t vol_, vov_;
};

// Relative volatility index: the window's population stdev credited to up or down closes.
class RviVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Result<RviVolatility, IndicatorError> create(std::size_t n) {
    if (auto s = check_zero(n); !s) return s.error();
    if (n == 1) return IndicatorError::invalid_period("RVI period must be >= 2");
    if (auto s = check_max(n); !s) return s.error();
    return RviVolatility(n);
  }
  std::optional<double> push(double close) {
    closes_.push(close);
    const std::optional<double> prev = prev_;
    prev_ = close;
    if (!closes_.full() || !prev) return std::nullopt;
    // Squared deviations overflow only for closes beyond about 1e154. The clamp would turn the
    // resulting NaN variance into a stdev of 0, and an infinite stdev would be refused by one
    // average but not by the other, putting them out of step for good: no value instead, and
    // the averages wait until the periodic recomputation has a finite window again.
    if (!std::isfinite(closes_.s2())) return std::nullopt;
    const double sd = std::sqrt(closes_.population_variance());
    const double up_x = close > *prev ? sd : 0.0;
    const double down_x = close < *prev ? sd : 0.0;
    // Both averages see the same finite inputs bounded by the stdev, so they accept together.
    up_.push(up_x);
    down_.push(down_x);
    if (!up_.ready()) return std::nullopt;
    const double total = up_.value() + down_.value();
    if (total == 0.0) return 50.0;
    return 100.0 * up_.value() / total;
  }
  std::size_t warmup_period() const { return 2 * n_ - 1; }

 private:
  explicit RviVolatility(std::size_t n) : closes_(n), up_(n), down_(n), n_(n) {}
  ShiftedRunningVariance closes_;
  std::optional<double> prev_;
  WilderFma up_, down_;
  std::size_t n_;
};

// ---------------------------------------------------------------- range-based estimators

// ln(H/L)^2 scaled by 1/(4 ln 2), written as the literal the estimator is defined with.
struct ParkinsonTerm {
  static double term(const Candle& c) {
    const double hl = std::log(c.high / c.low);
    return hl * hl;
  }
  static double variance(double sum, double n) { return sum * 0.3606737602222412 / n; }
};

struct GarmanKlassTerm {
  static double term(const Candle& c) {
    const double hl = std::log(c.high / c.low);
    const double co = std::log(c.close / c.open);
    return 0.5 * (hl * hl) - 0.3862943611198906 * (co * co);  // 2 ln 2 - 1
  }
  static double variance(double sum, double n) { return sum / n; }
};

double rogers_satchell_term(const Candle& c) {
  return std::fma(std::log(c.high / c.close), std::log(c.high / c.open),
                  std::log(c.low / c.close) * std::log(c.low / c.open));
}

struct RogersSatchellTerm {
  static double term(const Candle& c) { return rogers_satchell_term(c); }
  static double variance(double sum, double n) { return sum / n; }
};

template <class Estimator>
class RangeVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<RangeVolatility, IndicatorError> create(std::size_t n, std::size_t ppy) {
    if (auto s = check_zero(n); !s) return s.error();
    if (auto s = check_zero(ppy); !s) return s.error();
    if (auto s = check_max(n); !s) return s.error();
    return RangeVolatility(n, ppy);
  }
  std::optional<double> push(const Candle& c) {
    const double t = Estimator::term(c);
    if (!std::isfinite(t)) return std::nullopt;
    terms_.push(t);
    if (!terms_.full()) return std::nullopt;
    return annualised_percent(root_ppy_, Estimator::variance(terms_.sum(), n_));
  }
  std::size_t warmup_period() const { return terms_.period(); }

 private:
  RangeVolatility(std::size_t n, std::size_t ppy)
      : terms_(n), n_(static_cast<double>(n)), root_ppy_(annualiser(ppy)) {}
  RollingSum terms_;
  double n_, root_ppy_;
};

class YangZhangVolatility {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<YangZhangVolatility, IndicatorError> create(std::size_t n, std::size_t ppy) {
    if (auto s = check_zero(n); !s) return s.error();
    if (auto s = check_zero(ppy); !s) return s.error();
    if (n == 1) return IndicatorError::invalid_period("Yang-Zhang period must be >= 2");
    if (auto s = check_max(n); !s) return s.error();
    return YangZhangVolatility(n, ppy);
  }
  std::optional<double> push(const Candle& c) {
    if (!prev_) {
      prev_ = c.close;
      return std::nullopt;
    }
    const double o = std::log(c.open / *prev_);
    const double oc = std::log(c.close / c.open);
    const double rs = rogers_satchell_term(c);
    prev_ = c.close;
    if (!std::isfinite(o) || !std::isfinite(oc) || !std::isfinite(rs)) return std::nullopt;
    overnight_.push(o);
    open_close_.push(oc);
    rs_.push(rs);
    if (!rs_.full()) return std::nullopt;
    const double vo = overnight_.sample_variance();
    const double vc = open_close_.sample_variance();
    const double vrs = std::max(0.0, rs_.sum() / n_);
    return annualised_percent(root_ppy_, vo + k_ * vc + (1.0 - k_) * vrs);
  }
  std::size_t warmup_period() const { return rs_.period() + 1; }

 private:
  YangZhangVolatility(std::size_t n, std::size_t ppy)
      : overnight_(n),
        open_close_(n),
        rs_(n),
        n_(static_cast<double>(n)),
        k_(0.34 / ((n_ + 1.0) / (n_ - 1.0) + 1.34)),
        root_ppy_(annualiser(ppy)) {}
  std::optional<double> prev_;
  ShiftedRunningVariance overnight_, open_close_;
  RollingSum rs_;
  double n_, k_, root_ppy_;
};

// ---------------------------------------------------------------- volatility cone

class VolatilityCone {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Result<VolatilityCone, IndicatorError> create(std::size_t w, std::size_t lookback) {
    if (auto s = check_zero(w); !s) return s.error();
    if (auto s = check_zero(lookback); !s) return s.error();
    if (w == 1 || lookback == 1)
      return IndicatorError::invalid_period(
          "volatility cone window and lookback must both be >= 2");
    if (auto s = check_max(w); !s) return s.error();
    if (auto s = check_max(lookback); !s) return s.error();
    return VolatilityCone(w, lookback);
  }
  std::optional<double> push(const Candle& c) {
    // A non-positive close has no log return: the last cone, if any, stands.
    if (!(c.close > 0.0)) return last_;
    double r = 0;
    const auto o = returns_.next(c.close, r);
    if (o == LogReturns::Outcome::Refused) return std::nullopt;
    if (o == LogReturns::Outcome::Primed) return std::nullopt;
    returns_var_.push(r);
    if (!returns_var_.full()) return std::nullopt;
    const double current = std::sqrt(returns_var_.sample_variance());
    vols_.push(current);
    if (!vols_.full()) return std::nullopt;
    // Min, max and the rank of the current value are one scan; the median needs only the middle
    // order statistics of a copy: sorted when short, selected in linear time when long.
    double lo = vols_.oldest(), hi = lo;
    std::size_t at_most = 0, i = 0;
    scratch_.resize(vols_.size());
    vols_.for_each([&](double v) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
      if (v <= current) ++at_most;
      scratch_[i++] = v;
    });
    if (scratch_.size() <= 20) {
      numeric::sort_ascending(scratch_);
    } else {
      numeric::select_for_quantile(scratch_, 0.5);
    }
    const double m = static_cast<double>(scratch_.size());
    extras_ = {current, lo, numeric::sorted_median(scratch_), hi,
               100.0 * static_cast<double>(at_most) / m};
    last_ = current;
    return current;
  }
  std::span<const double> extras() const { return extras_; }
  std::size_t warmup_period() const { return w_ + vols_.capacity(); }

 private:
  VolatilityCone(std::size_t w, std::size_t lookback)
      : returns_var_(w), vols_(lookback), w_(w) {}
  LogReturns returns_;
  ShiftedRunningVariance returns_var_;
  Ring<double> vols_;
  std::vector<double> scratch_;  // reaches the lookback's size once, then reused
  std::size_t w_;
  std::optional<double> last_;
  std::array<double, 5> extras_{};
};

}  // namespace

void register_volatility(FamilyTable& t) {
  t.add("TrueRange", [](const Params&) { return wrap(TrueRange::create()); }, {});
  t.add("Atr", [](const Params& p) { return wrap(Atr::create(p.n(0))); }, {14});
  t.add("Natr", [](const Params& p) { return wrap(Natr::create(p.n(0))); }, {14});
  t.add("HighLowRange", [](const Params&) { return wrap(HighLowRange::create()); }, {});
  t.add("VolatilityRatio", [](const Params& p) { return wrap(VolatilityRatio::create(p.n(0))); },
        {14});
  t.add("AverageDailyRange",
        [](const Params& p) { return wrap(AverageDailyRange::create(p.n(0), p.i32(1))); }, {5, 0});
  t.add("ChaikinVolatility",
        [](const Params& p) { return wrap(ChaikinVolatility::create(p.n(0), p.n(1))); }, {10, 10});
  t.add("MassIndex", [](const Params& p) { return wrap(MassIndex::create(p.n(0), p.n(1))); },
        {9, 25});
  t.add("HistoricalVolatility",
        [](const Params& p) { return wrap(HistoricalVolatility::create(p.n(0), p.n(1))); },
        {20, 252});
  t.add("RealizedVolatility",
        [](const Params& p) { return wrap(RealizedVolatility::create(p.n(0))); }, {20});
  t.add("BipowerVariation", [](const Params& p) { return wrap(BipowerVariation::create(p.n(0))); },
        {20});
  t.add("JumpIndicator",
        [](const Params& p) { return wrap(JumpIndicator::create(p.n(0), p.f(1))); }, {20, 3});
  t.add("EwmaVolatility", [](const Params& p) { return wrap(EwmaVolatility::create(p.f(0))); },
        {0.94});
  t.add("Garch11",
        [](const Params& p) { return wrap(Garch11::create(p.f(0), p.f(1), p.f(2))); },
        {0.00001, 0.1, 0.85});
  t.add("VolatilityOfVolatility",
        [](const Params& p) { return wrap(VolatilityOfVolatility::create(p.n(0), p.n(1))); },
        {20, 20});
  t.add("RviVolatility", [](const Params& p) { return wrap(RviVolatility::create(p.n(0))); },
        {10});
  t.add("ParkinsonVolatility",
        [](const Params& p) {
          return wrap(RangeVolatility<ParkinsonTerm>::create(p.n(0), p.n(1)));
        },
        {20, 252});
  t.add("GarmanKlassVolatility",
        [](const Params& p) {
          return wrap(RangeVolatility<GarmanKlassTerm>::create(p.n(0), p.n(1)));
        },
        {20, 252});
  t.add("RogersSatchellVolatility",
        [](const Params& p) {
          return wrap(RangeVolatility<RogersSatchellTerm>::create(p.n(0), p.n(1)));
        },
        {20, 252});
  t.add("YangZhangVolatility",
        [](const Params& p) { return wrap(YangZhangVolatility::create(p.n(0), p.n(1))); },
        {20, 252});
  t.add("VolatilityCone",
        [](const Params& p) { return wrap(VolatilityCone::create(p.n(0), p.n(1))); }, {20, 50});
}

}  // namespace ostrel
