// Moving averages and smoothers: every member turns a price series into an average of it.
// All are of close kind except Evwma, Vwma and MidPrice (candle kind).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../numeric/cmo_core.h"
#include "../numeric/ema_core.h"
#include "../numeric/mama_core.h"
#include "../numeric/midpoint.h"
#include "../numeric/quantile.h"
#include "../numeric/ring.h"
#include "../numeric/rolling_mean.h"
#include "../numeric/vwma_core.h"
#include "../numeric/wilder_core.h"
#include "../numeric/wma_core.h"
#include "../numeric/zlema_core.h"
#include "families.h"

namespace ostrel {
namespace {

using numeric::CmoCore;
using numeric::EmaCore;
using numeric::MamaCore;
using numeric::Ring;
using numeric::RollingMean;
using numeric::VwmaCore;
using numeric::WilderCore;
using numeric::WmaCore;
using numeric::ZlemaCore;

template <class T>
using Made = Result<T, IndicatorError>;

bool finite_in_unit(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

// ---------------------------------------------------------------------------------------------
// Single-core averages

class Sma {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Sma> create(std::size_t n) {
    auto m = RollingMean::create(n);
    if (!m) return m.error();
    return Sma(std::move(m).value());
  }
  std::optional<double> push(double close) { return mean_.push(close); }
  std::size_t warmup_period() const { return mean_.period(); }

 private:
  explicit Sma(RollingMean m) : mean_(std::move(m)) {}
  RollingMean mean_;
};

// One core of type Core fed with the close; the average is the core's value.
template <class Core>
class SingleCore {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<SingleCore> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return SingleCore(n);
  }
  std::optional<double> push(double close) { return core_.push(close); }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  explicit SingleCore(std::size_t n) : core_(n) {}
  Core core_;
};

using Ema = SingleCore<EmaCore>;
using Wma = SingleCore<WmaCore>;
using Smma = SingleCore<WilderCore>;

class Zlema {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Zlema> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Zlema(n);
  }
  std::optional<double> push(double close) { return core_.push(close); }
  std::size_t warmup_period() const { return core_.warmup_period(); }

 private:
  explicit Zlema(std::size_t n) : core_(n) {}
  ZlemaCore core_;
};

// ---------------------------------------------------------------------------------------------
// Chained exponential averages

class Dema {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Dema> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Dema(n);
  }
  std::optional<double> push(double close) {
    auto e1 = e1_.push(close);
    if (!e1) return std::nullopt;
    auto e2 = e2_.push(*e1);
    if (!e2) return std::nullopt;
    return (*e1 + *e1) - *e2;
  }
  std::size_t warmup_period() const { return 2 * e1_.period() - 1; }

 private:
  explicit Dema(std::size_t n) : e1_(n), e2_(n) {}
  EmaCore e1_, e2_;
};

class Tema {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Tema> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Tema(n);
  }
  std::optional<double> push(double close) {
    auto e1 = e1_.push(close);
    if (!e1) return std::nullopt;
    auto e2 = e2_.push(*e1);
    if (!e2) return std::nullopt;
    auto e3 = e3_.push(*e2);
    if (!e3) return std::nullopt;
    return ((3.0 * *e1) - (3.0 * *e2)) + *e3;
  }
  std::size_t warmup_period() const { return 3 * e1_.period() - 2; }

 private:
  explicit Tema(std::size_t n) : e1_(n), e2_(n), e3_(n) {}
  EmaCore e1_, e2_, e3_;
};

class GeneralizedDema {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<GeneralizedDema> create(std::size_t n, double v) {
    if (auto s = check_period(n); !s) return s.error();
    if (!finite_in_unit(v))
      return IndicatorError::invalid_period(
          "GD volume factor must be a finite value in [0.0, 1.0]");
    return GeneralizedDema(n, v);
  }
  std::optional<double> push(double close) {
    auto e1 = e1_.push(close);
    if (!e1) return std::nullopt;
    auto e2 = e2_.push(*e1);
    if (!e2) return std::nullopt;
    return *e1 * (1.0 + v_) - *e2 * v_;
  }
  std::size_t warmup_period() const { return 2 * e1_.period() - 1; }

 private:
  GeneralizedDema(std::size_t n, double v) : e1_(n), e2_(n), v_(v) {}
  EmaCore e1_, e2_;
  double v_;
};

class T3 {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<T3> create(std::size_t n, double v) {
    if (auto s = check_period(n); !s) return s.error();
    if (!finite_in_unit(v))
      return IndicatorError::invalid_period(
          "T3 volume factor must be a finite value in [0.0, 1.0]");
    return T3(n, v);
  }
  std::optional<double> push(double close) {
    std::optional<double> e = close;
    for (std::size_t i = 0; i < 6; ++i) {
      e = cores_[i].push(*e);
      if (!e) return std::nullopt;
    }
    // Only reached when all six cores yielded in this step.
    const double e3 = cores_[2].value(), e4 = cores_[3].value(), e5 = cores_[4].value();
    const double e6 = cores_[5].value();
    return ((c1_ * e6 + c2_ * e5) + c3_ * e4) + c4_ * e3;
  }
  std::size_t warmup_period() const { return 6 * cores_[0].period() - 5; }

 private:
  T3(std::size_t n, double v)
      : cores_{EmaCore(n), EmaCore(n), EmaCore(n), EmaCore(n), EmaCore(n), EmaCore(n)} {
    const double vsq = v * v, vcube = v * vsq;
    c1_ = -vcube;
    c2_ = vsq * 3.0 + vcube * 3.0;
    c3_ = (vsq * -6.0 - 3.0 * v) - vcube * 3.0;
    c4_ = ((3.0 * v + 1.0) + vcube) + vsq * 3.0;
  }
  std::array<EmaCore, 6> cores_;
  double c1_ = 0, c2_ = 0, c3_ = 0, c4_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Mean of means and hull-style averages

class Trima {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Trima> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    // Both derived periods lie in [1, n], so they pass the same checks.
    auto a = RollingMean::create(n - n / 2);
    auto b = RollingMean::create(n / 2 + 1);
    if (!a) return a.error();
    if (!b) return b.error();
    return Trima(std::move(a).value(), std::move(b).value());
  }
  std::optional<double> push(double close) {
    auto m = first_.push(close);
    return m ? second_.push(*m) : std::nullopt;
  }
  std::size_t warmup_period() const { return first_.period() + second_.period() - 1; }

 private:
  Trima(RollingMean a, RollingMean b) : first_(std::move(a)), second_(std::move(b)) {}
  RollingMean first_, second_;
};

// Periods of the hull construction: half = max(floor(n/2), 1), root = max(round(sqrt n), 1)
// with halves rounded away from zero.
std::size_t hull_half(std::size_t n) { return std::max<std::size_t>(n / 2, 1); }
std::size_t hull_root(std::size_t n) {
  const double root = std::round(std::sqrt(static_cast<double>(n)));  // at most 4096
  return std::max<std::size_t>(static_cast<std::size_t>(root), 1);
}

class Hma {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Hma> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Hma(n);
  }
  std::optional<double> push(double close) {
    auto a = half_.push(close);
    auto b = full_.push(close);
    if (!a || !b) return std::nullopt;
    return root_.push(*a * 2.0 - *b);
  }
  std::size_t warmup_period() const { return full_.period() + root_.period() - 1; }

 private:
  explicit Hma(std::size_t n) : half_(hull_half(n)), full_(n), root_(hull_root(n)) {}
  WmaCore half_, full_, root_;
};

class Ehma {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Ehma> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Ehma(n);
  }
  std::optional<double> push(double close) {
    auto a = half_.push(close);
    auto b = full_.push(close);
    if (!a || !b) return std::nullopt;
    return root_.push((*a + *a) - *b);
  }
  std::size_t warmup_period() const { return full_.period() + root_.period() - 1; }

 private:
  explicit Ehma(std::size_t n) : half_(hull_half(n)), full_(n), root_(hull_root(n)) {}
  EmaCore half_, full_, root_;
};

// ---------------------------------------------------------------------------------------------
// Fixed-weight window averages

// Weights of the window positions grow with the data: position i's weight is computed when the
// i-th value arrives, so a huge declared period costs nothing until the data fills it. Weights
// are never read before the window is full, so results equal those of a table built up front.
class Alma {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Alma> create(std::size_t n, double offset, double sigma) {
    if (auto s = check_period(n); !s) return s.error();
    if (!finite_in_unit(offset))
      return IndicatorError::invalid_period("ALMA offset must be a finite value in [0, 1]");
    if (!(std::isfinite(sigma) && sigma > 0.0))
      return IndicatorError::invalid_period("ALMA sigma must be a finite positive value");
    return Alma(n, offset, sigma);
  }
  std::optional<double> push(double close) {
    if (!window_.full()) {
      const double d = static_cast<double>(weights_.size()) - m_;
      const double w = std::exp((-d * d) / s_);
      weights_.push_back(w);
      weight_sum_ += w;
      window_.push(close);
      if (!window_.full()) return std::nullopt;
      for (double& x : weights_) x = x / weight_sum_;
    } else {
      window_.push(close);
    }
    double sum = 0.0;
    std::size_t i = 0;
    window_.for_each([&](double x) { sum = weights_[i++] * x + sum; });
    return sum;
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  Alma(std::size_t n, double offset, double sigma)
      : window_(n),
        m_(static_cast<double>(n - 1) * offset),
        s_(((static_cast<double>(n) / sigma) * 2.0) * (static_cast<double>(n) / sigma)) {}
  Ring<double> window_;
  std::vector<double> weights_;
  double m_;
  double s_;
  double weight_sum_ = -0.0;
};

class SineWeightedMa {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<SineWeightedMa> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return SineWeightedMa(n);
  }
  // Weights grow with the data for the same reason as Alma's.
  std::optional<double> push(double close) {
    if (!window_.full()) {
      const double w = std::sin(((static_cast<double>(weights_.size()) + 1.0) * 3.141592653589793) /
                                (static_cast<double>(window_.capacity()) + 1.0));
      weights_.push_back(w);
      weight_sum_ += w;
    }
    window_.push(close);
    if (!window_.full()) return std::nullopt;
    double sum = -0.0;
    std::size_t i = 0;
    window_.for_each([&](double x) { sum += x * weights_[i++]; });
    return sum / weight_sum_;
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  explicit SineWeightedMa(std::size_t n) : window_(n) {}
  Ring<double> window_;
  std::vector<double> weights_;
  double weight_sum_ = -0.0;
};

// ---------------------------------------------------------------------------------------------
// Adaptive averages

class Kama {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Kama> create(std::size_t er, std::size_t fast, std::size_t slow) {
    if (er == 0 || fast == 0 || slow == 0) return IndicatorError::zero_period();
    if (fast >= slow)
      return IndicatorError::invalid_period("KAMA fast period must be strictly less than slow");
    // The two smoothing periods only enter a constant, but the efficiency-ratio window holds
    // er + 1 closes: refuse what no machine could hold with the engine's common window bound,
    // after the member's own checks so that every other input behaves as documented.
    if (er > MAX_PERIOD) return IndicatorError::period_too_large();
    return Kama(er, fast, slow);
  }
  std::optional<double> push(double close) {
    window_.push(close);
    if (!window_.full()) return std::nullopt;
    double volatility = -0.0;
    bool first = true;
    double last = 0.0;
    window_.for_each([&](double x) {
      if (!first) volatility += std::fabs(x - last);
      first = false;
      last = x;
    });
    const double oldest = window_.oldest();
    const double change = std::fabs(close - oldest);
    // A NaN volatility is "not equal to 0", so it divides like any other.
    const double ratio = volatility != 0.0 ? change / volatility : 0.0;
    const double t = (fast_sc_ - slow_sc_) * ratio + slow_sc_;
    const double prev = has_prev_ ? prev_ : oldest;
    prev_ = (t * t) * (close - prev) + prev;
    has_prev_ = true;
    return prev_;
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  Kama(std::size_t er, std::size_t fast, std::size_t slow)
      : window_(er + 1),
        fast_sc_(2.0 / (static_cast<double>(fast) + 1.0)),
        slow_sc_(2.0 / (static_cast<double>(slow) + 1.0)) {}
  Ring<double> window_;  // the last er + 1 closes
  double fast_sc_;
  double slow_sc_;
  double prev_ = 0.0;
  bool has_prev_ = false;
};

class Frama {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Frama> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    if (n == 1) return IndicatorError::invalid_period("FRAMA period must be at least 2");
    if (n % 2 != 0) return IndicatorError::invalid_period("FRAMA period must be even");
    return Frama(n);
  }
  std::optional<double> push(double close) {
    window_.push(close);
    if (!window_.full()) return std::nullopt;
    const std::size_t n = window_.capacity(), half = n / 2;
    double hi1 = window_[0], lo1 = hi1, hi2 = window_[half], lo2 = hi2;
    for (std::size_t i = 1; i < half; ++i) {
      const double a = window_[i], b = window_[half + i];
      hi1 = std::max(hi1, a);
      lo1 = std::min(lo1, a);
      hi2 = std::max(hi2, b);
      lo2 = std::min(lo2, b);
    }
    const double hi = std::max(hi1, hi2), lo = std::min(lo1, lo2);
    const double w = (hi - lo) / static_cast<double>(n);
    const double r1 = (hi1 - lo1) / static_cast<double>(half);
    const double r2 = (hi2 - lo2) / static_cast<double>(half);
    double alpha = 0.01;
    if (w > 0.0 && r1 > 0.0 && r2 > 0.0) {
      const double dim = (std::log(r1 + r2) - std::log(w)) / 0.6931471805599453;
      alpha = std::clamp(std::exp((dim - 1.0) * -4.6), 0.01, 1.0);
    }
    const double prev = has_prev_ ? prev_ : close;
    prev_ = (1.0 - alpha) * prev + close * alpha;
    has_prev_ = true;
    return prev_;
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  explicit Frama(std::size_t n) : window_(n) {}
  Ring<double> window_;
  double prev_ = 0.0;
  bool has_prev_ = false;
};

class Vidya {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Vidya> create(std::size_t p, std::size_t c) {
    if (p == 0 || c == 0) return IndicatorError::zero_period();
    // The smoothing period only sets a constant; the momentum window is what is kept.
    if (c > MAX_PERIOD) return IndicatorError::period_too_large();
    return Vidya(p, c);
  }
  std::optional<double> push(double close) {
    auto cmo = cmo_.push(close);
    if (!cmo) return std::nullopt;
    const double k = (std::fabs(*cmo) / 100.0) * k0_;
    const double prev = has_prev_ ? prev_ : close;
    prev_ = (1.0 - k) * prev + close * k;
    has_prev_ = true;
    return prev_;
  }
  std::size_t warmup_period() const { return cmo_.warmup_period(); }

 private:
  Vidya(std::size_t p, std::size_t c) : cmo_(c), k0_(2.0 / (static_cast<double>(p) + 1.0)) {}
  CmoCore cmo_;
  double k0_;
  double prev_ = 0.0;
  bool has_prev_ = false;
};

class Jma {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Jma> create(std::size_t n, double phase, std::uint32_t power) {
    if (auto s = check_period(n); !s) return s.error();
    if (!std::isfinite(phase))
      return IndicatorError::invalid_period("JMA phase must be a finite value");
    if (power < 1 || power > 4) return IndicatorError::invalid_period("JMA power must be in 1..=4");
    return Jma(n, phase, power);
  }
  std::optional<double> push(double x) {
    if (!started_) {
      started_ = true;
      e0_ = x;
      jma_ = x;
      return jma_;
    }
    e0_ = e0_ * alpha_ + x * (1.0 - alpha_);
    det0_ = beta_ * det0_ + (1.0 - beta_) * (x - e0_);
    det1_ = (alpha_ * alpha_) * det1_ +
            ((det0_ * ratio_ + e0_) - jma_) * (1.0 - alpha_) * (1.0 - alpha_);
    jma_ = det1_ + jma_;
    return jma_;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  Jma(std::size_t n, double phase, std::uint32_t power) {
    const double b = (static_cast<double>(n) - 1.0) * 0.45;
    beta_ = b / (2.0 + b);
    // beta ** power by repeated squaring, in this exact grouping.
    if (power == 1) {
      alpha_ = beta_;
    } else if (power == 2) {
      alpha_ = beta_ * beta_;
    } else if (power == 3) {
      alpha_ = beta_ * (beta_ * beta_);
    } else {
      alpha_ = (beta_ * beta_) * (beta_ * beta_);
    }
    ratio_ = std::min(std::max(phase / 100.0 + 1.5, 0.5), 2.5);
  }
  double beta_ = 0, alpha_ = 0, ratio_ = 0;
  double e0_ = 0, det0_ = 0, det1_ = 0, jma_ = 0;
  bool started_ = false;
};

Status<IndicatorError> check_mama_limits(double fast, double slow) {
  if (!(std::isfinite(fast) && std::isfinite(slow) && 0.0 < slow && slow <= fast && fast <= 1.0))
    return IndicatorError::invalid_period(
        "fast_limit, slow_limit must satisfy 0 < slow_limit <= fast_limit <= 1");
  return Ok{};
}

class Mama {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Mama> create(double fast, double slow) {
    if (auto s = check_mama_limits(fast, slow); !s) return s.error();
    return Mama(fast, slow);
  }
  std::optional<double> push(double close) {
    auto v = core_.push(close);
    if (!v) return std::nullopt;
    extras_ = {v->mama, v->fama};
    return v->mama;
  }
  std::size_t warmup_period() const { return MamaCore::kWarmup; }
  std::span<const double> extras() const { return extras_; }

 private:
  Mama(double fast, double slow) : core_(fast, slow) {}
  MamaCore core_;
  std::array<double, 2> extras_{};  // mama, fama
};

class Fama {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<Fama> create(double fast, double slow) {
    if (auto s = check_mama_limits(fast, slow); !s) return s.error();
    return Fama(fast, slow);
  }
  std::optional<double> push(double close) {
    auto v = core_.push(close);
    if (!v) return std::nullopt;
    return v->fama;
  }
  std::size_t warmup_period() const { return MamaCore::kWarmup; }

 private:
  Fama(double fast, double slow) : core_(fast, slow) {}
  MamaCore core_;
};

class McGinleyDynamic {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<McGinleyDynamic> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return McGinleyDynamic(n);
  }
  std::optional<double> push(double close) {
    if (seeded_ < n_) {
      sum_ = close + sum_;
      if (++seeded_ < n_) return std::nullopt;
      md_ = sum_ / static_cast<double>(n_);
      return md_;
    }
    if (!(close <= 0.0 || md_ <= 0.0)) {
      const double r = (close / md_) * (close / md_);
      md_ = md_ + (close - md_) / ((r * r) * (static_cast<double>(n_) * 0.6));
    }
    return md_;
  }
  std::size_t warmup_period() const { return n_; }

 private:
  explicit McGinleyDynamic(std::size_t n) : n_(n) {}
  std::size_t n_;
  std::size_t seeded_ = 0;
  double sum_ = -0.0;
  double md_ = 0.0;
};

class HoltWinters {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<HoltWinters> create(double alpha, double beta) {
    auto unit = [](double v) { return std::isfinite(v) && v > 0.0 && v <= 1.0; };
    if (!unit(alpha))
      return IndicatorError::invalid_period("HoltWinters alpha must be in (0.0, 1.0]");
    if (!unit(beta))
      return IndicatorError::invalid_period("HoltWinters beta must be in (0.0, 1.0]");
    return HoltWinters(alpha, beta);
  }
  std::optional<double> push(double x) {
    switch (seen_) {
      case 0:
        x0_ = x;
        seen_ = 1;
        return std::nullopt;
      case 1:
        level_ = x;
        trend_ = x - x0_;
        seen_ = 2;
        break;
      default: {
        const double new_level = (level_ + trend_) * (1.0 - alpha_) + x * alpha_;
        trend_ = (1.0 - beta_) * trend_ + (new_level - level_) * beta_;
        level_ = new_level;
      }
    }
    return trend_ + level_;
  }
  std::size_t warmup_period() const { return 2; }

 private:
  HoltWinters(double alpha, double beta) : alpha_(alpha), beta_(beta) {}
  double alpha_, beta_;
  double x0_ = 0, level_ = 0, trend_ = 0;
  int seen_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Window statistics as averages

class GeometricMa {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<GeometricMa> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return GeometricMa(n);
  }
  std::optional<double> push(double close) {
    // The logarithm needs a positive price; anything else is skipped like a non-finite close.
    if (!(close > 0.0)) return std::nullopt;
    const double l = std::log(close);
    if (logs_.full()) {
      double oldest = 0.0;
      logs_.push(l, &oldest);
      sum_ = l + (sum_ - oldest);
    } else {
      logs_.push(l);
      sum_ = l + sum_;
    }
    // Re-summed exactly every n updates to bound the drift of the running sum.
    if (++updates_ == logs_.capacity()) {
      double s = -0.0;
      logs_.for_each([&](double v) { s += v; });
      sum_ = s;
      updates_ = 0;
    }
    if (!logs_.full()) return std::nullopt;
    return std::exp(sum_ / static_cast<double>(logs_.capacity()));
  }
  std::size_t warmup_period() const { return logs_.capacity(); }

 private:
  explicit GeometricMa(std::size_t n) : logs_(n) {}
  Ring<double> logs_;
  double sum_ = 0.0;
  std::size_t updates_ = 0;
};

class MedianMa {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<MedianMa> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return MedianMa(n);
  }
  std::optional<double> push(double close) {
    window_.push(close);
    if (!window_.full()) return std::nullopt;
    const std::size_t n = window_.size(), mid = n / 2;
    if (n % 2 == 1) return at(mid);
    return numeric::midpoint(at(mid - 1), at(mid));
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  explicit MedianMa(std::size_t n) : window_(n) {}

  // The i-th element of the window in IEEE total order. The sorted copy orders by <, which
  // leaves -0.0 and +0.0 in arrival order inside their run of zeros; total order puts every
  // -0.0 first, so a zero is placed by counting the negative zeros of that run.
  double at(std::size_t i) const {
    const auto sorted = window_.sorted();
    const double v = sorted[i];
    if (v != 0.0) return v;
    const auto [lo, hi] = std::equal_range(sorted.begin(), sorted.end(), 0.0);
    const auto negative_zeros =
        static_cast<std::size_t>(std::count_if(lo, hi, [](double z) { return std::signbit(z); }));
    return i - static_cast<std::size_t>(lo - sorted.begin()) < negative_zeros ? -0.0 : 0.0;
  }

  numeric::SortedWindow window_;
};

class MidPoint {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  static Made<MidPoint> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return MidPoint(n);
  }
  std::optional<double> push(double close) {
    window_.push(close);
    if (!window_.full()) return std::nullopt;
    double hi = window_.oldest(), lo = hi;
    window_.for_each([&](double x) {
      hi = std::max(hi, x);
      lo = std::min(lo, x);
    });
    return numeric::midpoint(hi, lo);
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  explicit MidPoint(std::size_t n) : window_(n) {}
  Ring<double> window_;
};

class MidPrice {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Made<MidPrice> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return MidPrice(n);
  }
  std::optional<double> push(const Candle& c) {
    window_.push({c.high, c.low});
    if (!window_.full()) return std::nullopt;
    double hi = window_.oldest().high, lo = window_.oldest().low;
    window_.for_each([&](const Range& r) {
      hi = std::max(hi, r.high);
      lo = std::min(lo, r.low);
    });
    return numeric::midpoint(hi, lo);
  }
  std::size_t warmup_period() const { return window_.capacity(); }

 private:
  struct Range {
    double high = 0.0;
    double low = 0.0;
  };
  explicit MidPrice(std::size_t n) : window_(n) {}
  Ring<Range> window_;
};

// ---------------------------------------------------------------------------------------------
// Volume-weighted averages

class Vwma {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Made<Vwma> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Vwma(n);
  }
  std::optional<double> push(const Candle& c) { return core_.push(c.close, c.volume); }
  std::size_t warmup_period() const { return core_.period(); }

 private:
  explicit Vwma(std::size_t n) : core_(n) {}
  VwmaCore core_;
};

class Evwma {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  static Made<Evwma> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Evwma(n);
  }
  std::optional<double> push(const Candle& c) {
    // Only the volumes of the window are ever read back, so only they are kept.
    if (volumes_.full()) {
      double leaving = 0.0;
      volumes_.push(c.volume, &leaving);
      total_ = total_ - leaving;
    } else {
      volumes_.push(c.volume);
    }
    total_ = c.volume + total_;
    if (!volumes_.full()) return std::nullopt;
    if (total_ > 0.0) {
      const double prev = has_prev_ ? prev_ : c.close;
      prev_ = (c.close * c.volume + (total_ - c.volume) * prev) / total_;
    } else if (!has_prev_) {
      prev_ = c.close;
    }
    has_prev_ = true;
    return prev_;
  }
  std::size_t warmup_period() const { return volumes_.capacity(); }

 private:
  explicit Evwma(std::size_t n) : volumes_(n) {}
  Ring<double> volumes_;
  double total_ = 0.0;
  double prev_ = 0.0;
  bool has_prev_ = false;
};

}  // namespace

void register_moving_averages(FamilyTable& t) {
  t.add("Sma", [](const Params& p) { return wrap(Sma::create(p.n(0))); }, {20});
  t.add("Ema", [](const Params& p) { return wrap(Ema::create(p.n(0))); }, {20});
  t.add("Wma", [](const Params& p) { return wrap(Wma::create(p.n(0))); }, {20});
  t.add("Dema", [](const Params& p) { return wrap(Dema::create(p.n(0))); }, {20});
  t.add("Tema", [](const Params& p) { return wrap(Tema::create(p.n(0))); }, {20});
  t.add("Trima", [](const Params& p) { return wrap(Trima::create(p.n(0))); }, {20});
  t.add("Smma", [](const Params& p) { return wrap(Smma::create(p.n(0))); }, {14});
  t.add("Hma", [](const Params& p) { return wrap(Hma::create(p.n(0))); }, {20});
  t.add("Ehma", [](const Params& p) { return wrap(Ehma::create(p.n(0))); }, {20});
  t.add("Alma", [](const Params& p) { return wrap(Alma::create(p.n(0), p.f(1), p.f(2))); },
        {9, 0.85, 6});
  t.add("Kama", [](const Params& p) { return wrap(Kama::create(p.n(0), p.n(1), p.n(2))); },
        {10, 2, 30});
  t.add("Frama", [](const Params& p) { return wrap(Frama::create(p.n(0))); }, {16});
  t.add("Vidya", [](const Params& p) { return wrap(Vidya::create(p.n(0), p.n(1))); }, {14, 9});
  t.add("Zlema", [](const Params& p) { return wrap(Zlema::create(p.n(0))); }, {20});
  t.add("T3", [](const Params& p) { return wrap(T3::create(p.n(0), p.f(1))); }, {5, 0.7});
  t.add("Jma", [](const Params& p) { return wrap(Jma::create(p.n(0), p.f(1), p.u32(2))); },
        {14, 0, 2});
  t.add("Mama", [](const Params& p) { return wrap(Mama::create(p.f(0), p.f(1))); }, {0.5, 0.05});
  t.add("Fama", [](const Params& p) { return wrap(Fama::create(p.f(0), p.f(1))); }, {0.5, 0.05});
  t.add("McGinleyDynamic", [](const Params& p) { return wrap(McGinleyDynamic::create(p.n(0))); },
        {14});
  t.add("GeometricMa", [](const Params& p) { return wrap(GeometricMa::create(p.n(0))); }, {20});
  t.add("MedianMa", [](const Params& p) { return wrap(MedianMa::create(p.n(0))); }, {20});
  t.add("SineWeightedMa", [](const Params& p) { return wrap(SineWeightedMa::create(p.n(0))); },
        {20});
  t.add("HoltWinters", [](const Params& p) { return wrap(HoltWinters::create(p.f(0), p.f(1))); },
        {0.3, 0.1});
  t.add("GeneralizedDema",
        [](const Params& p) { return wrap(GeneralizedDema::create(p.n(0), p.f(1))); }, {10, 0.7});
  t.add("Evwma", [](const Params& p) { return wrap(Evwma::create(p.n(0))); }, {20});
  t.add("Vwma", [](const Params& p) { return wrap(Vwma::create(p.n(0))); }, {20});
  t.add("MidPoint", [](const Params& p) { return wrap(MidPoint::create(p.n(0))); }, {14});
  t.add("MidPrice", [](const Params& p) { return wrap(MidPrice::create(p.n(0))); }, {14});
}

}  // namespace ostrel
