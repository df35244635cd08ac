// Momentum oscillators built from moving-average cores: the MACD family, the price oscillators
// and the smoothed-momentum members.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>

#include "../numeric/cmo_core.h"
#include "../numeric/ema_core.h"
#include "../numeric/ring.h"
#include "../numeric/rolling_mean.h"
#include "../numeric/rsi_core.h"
#include "../numeric/vwma_core.h"
#include "../numeric/zlema_core.h"
#include "families.h"
#include "momentum_common.h"

namespace ostrel {
namespace {

using momentum::check_max;
using momentum::check_nonzero;
using momentum::clamp;
using numeric::CmoCore;
using numeric::EmaCore;
using numeric::Ring;
using numeric::RollingMean;
using numeric::RsiCore;
using numeric::VwmaCore;
using numeric::ZlemaCore;

// Smoothed RSI with a trailing band that follows it at a multiple of its own average movement.
class Qqe {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Qqe, IndicatorError> create(std::size_t a, std::size_t b, double k) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    if (!std::isfinite(k) || !(k > 0))
      return IndicatorError::invalid_period("QQE factor must be a finite positive value");
    if (auto s = check_max({b}); !s) return s.error();
    // 2a - 1 must stay a valid length; testing a first keeps the doubling from wrapping around.
    if (a > (MAX_PERIOD + 1) / 2) return IndicatorError::period_too_large();
    return Qqe(a, b, k);
  }

  std::optional<double> push(double close) {
    const auto r = rsi_.push(close);
    if (!r) return std::nullopt;
    const auto ma = rsi_ma_.push(*r);
    if (!ma) return std::nullopt;
    if (!has_prev_ma_) {
      prev_ma_ = *ma;
      has_prev_ma_ = true;
      return std::nullopt;
    }
    // The band rules below compare against the average before this step, so keep it.
    const double prev = prev_ma_;
    const double d = *ma - prev;
    prev_ma_ = *ma;
    if (!std::isfinite(d)) return std::nullopt;
    const auto atr = atr_.push(std::fabs(d));
    if (!atr || !std::isfinite(*atr)) return std::nullopt;
    const auto smoothed = dar_.push(*atr);
    if (!smoothed) return std::nullopt;
    const double dar = *smoothed * k_;
    const double new_long = *ma - dar;
    const double new_short = *ma + dar;
    if (!started_) {
      long_ = new_long;
      short_ = new_short;
      up_ = true;
      started_ = true;
    } else {
      const double pl = long_, ps = short_;
      long_ = (pl < *ma && pl < prev) ? std::max(pl, new_long) : new_long;
      short_ = (ps > *ma && ps > prev) ? std::min(ps, new_short) : new_short;
      if (prev <= ps && ps < *ma) {
        up_ = true;
      } else if (prev >= pl && pl > *ma) {
        up_ = false;
      }
    }
    extras_ = {*ma, up_ ? long_ : short_};
    return *ma;
  }

  std::size_t warmup_period() const { return 5 * rsi_.period() + rsi_ma_.period() - 3; }
  std::span<const double> extras() const { return extras_; }

 private:
  Qqe(std::size_t a, std::size_t b, double k)
      : rsi_(*RsiCore::create(a)), rsi_ma_(b), atr_(2 * a - 1), dar_(2 * a - 1), k_(k) {}
  RsiCore rsi_;
  EmaCore rsi_ma_;
  EmaCore atr_, dar_;
  double k_;
  double prev_ma_ = 0;
  bool has_prev_ma_ = false;
  bool started_ = false;
  double long_ = 0, short_ = 0;
  bool up_ = true;
  std::array<double, 2> extras_{};
};

class Cmo {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Cmo, IndicatorError> create(std::size_t n) {
    auto core = CmoCore::create(n);
    if (!core) return core.error();
    return Cmo(std::move(*core));
  }
  std::optional<double> push(double close) { return core_.push(close); }
  std::size_t warmup_period() const { return core_.warmup_period(); }

 private:
  explicit Cmo(CmoCore core) : core_(std::move(core)) {}
  CmoCore core_;
};

// Zero, fast-not-below-slow, then maximum checks shared by the three-line MACD variants.
Status<IndicatorError> check_macd(std::size_t a, std::size_t b, std::size_t c, const char* order) {
  if (auto s = check_nonzero({a, b, c}); !s) return s.error();
  if (a >= b) return IndicatorError::invalid_period(order);
  if (auto s = check_max({a, b, c}); !s) return s.error();
  return Ok{};
}

constexpr const char* kMacdOrder = "fast period must be strictly less than slow period";

// Signal average of the line and the three outputs once the signal exists.
template <class Signal>
class MacdTail {
 public:
  explicit MacdTail(std::size_t c) : signal_(c) {}
  std::optional<std::array<double, 3>> push(double macd) {
    const auto sig = signal_.push(macd);
    if (!sig) return std::nullopt;
    return std::array<double, 3>{macd, *sig, macd - *sig};
  }

 private:
  Signal signal_;
};

enum class MacdOut { Lines, Histogram };

// Difference of a fast and a slow exponential average, with its own signal average.
template <MacdOut O>
class MacdIndicator {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<MacdIndicator, IndicatorError> create(std::size_t a, std::size_t b,
                                                                    std::size_t c) {
    if (auto s = check_macd(a, b, c, kMacdOrder); !s) return s.error();
    return MacdIndicator(a, b, c);
  }

  std::optional<double> push(double close) {
    const auto ef = fast_.push(close);
    const auto es = slow_.push(close);
    if (!ef || !es) return std::nullopt;
    const auto lines = tail_.push(*ef - *es);
    if (!lines) return std::nullopt;
    if constexpr (O == MacdOut::Lines) {
      extras_ = *lines;
      return (*lines)[0];
    } else {
      return (*lines)[2];
    }
  }

  std::size_t warmup_period() const { return slow_.period() + c_ - 1; }
  std::span<const double> extras() const
    requires(O == MacdOut::Lines)
  {
    return extras_;
  }

 private:
  MacdIndicator(std::size_t a, std::size_t b, std::size_t c)
      : fast_(a), slow_(b), tail_(c), c_(c) {}
  EmaCore fast_, slow_;
  MacdTail<EmaCore> tail_;
  std::size_t c_;
  std::array<double, 3> extras_{};
};

// MACD over zero-lag averages for all three lines.
class ZeroLagMacd {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<ZeroLagMacd, IndicatorError> create(std::size_t a, std::size_t b,
                                                                  std::size_t c) {
    if (auto s = check_macd(a, b, c, "ZeroLagMACD fast period must be strictly less than slow"); !s)
      return s.error();
    return ZeroLagMacd(a, b, c);
  }

  std::optional<double> push(double close) {
    const auto ef = fast_.push(close);
    const auto es = slow_.push(close);
    if (!ef || !es) return std::nullopt;
    const auto lines = tail_.push(*ef - *es);
    if (!lines) return std::nullopt;
    extras_ = *lines;
    return (*lines)[0];
  }

  // The signal's own lag adds to the slow line's: (b + L_b) + (c + L_c) - 1.
  std::size_t warmup_period() const { return slow_.warmup_period() + signal_warmup_ - 1; }
  std::span<const double> extras() const { return extras_; }

 private:
  ZeroLagMacd(std::size_t a, std::size_t b, std::size_t c)
      : fast_(a), slow_(b), tail_(c), signal_warmup_(c + (c - 1) / 2) {}
  ZlemaCore fast_, slow_;
  MacdTail<ZlemaCore> tail_;
  std::size_t signal_warmup_;
  std::array<double, 3> extras_{};
};

// MACD whose fast and slow lines are volume-weighted averages of the close.
class VolumeWeightedMacd {
 public:
  static constexpr InputKind kInput = InputKind::Candle;
  [[nodiscard]] static Result<VolumeWeightedMacd, IndicatorError> create(std::size_t a,
                                                                         std::size_t b,
                                                                         std::size_t c) {
    if (auto s = check_macd(a, b, c, kMacdOrder); !s) return s.error();
    return VolumeWeightedMacd(a, b, c);
  }

  std::optional<double> push(const Candle& candle) {
    const auto ef = fast_.push(candle.close, candle.volume);
    const auto es = slow_.push(candle.close, candle.volume);
    if (!ef || !es) return std::nullopt;
    const auto lines = tail_.push(*ef - *es);
    if (!lines) return std::nullopt;
    extras_ = *lines;
    return (*lines)[0];
  }

  std::size_t warmup_period() const { return slow_.period() + c_ - 1; }
  std::span<const double> extras() const { return extras_; }

 private:
  VolumeWeightedMacd(std::size_t a, std::size_t b, std::size_t c)
      : fast_(a), slow_(b), tail_(c), c_(c) {}
  VwmaCore fast_, slow_;
  MacdTail<EmaCore> tail_;
  std::size_t c_;
  std::array<double, 3> extras_{};
};

// Fast and slow exponential averages of the close, and their difference once both exist.
struct FastSlow {
  EmaCore fast, slow;
  std::optional<std::array<double, 2>> push(double close) {
    const auto ef = fast.push(close);
    const auto es = slow.push(close);
    if (!ef || !es) return std::nullopt;
    return std::array<double, 2>{*ef, *es};
  }
};

// Absolute price oscillator: fast average minus slow average.
class Apo {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Apo, IndicatorError> create(std::size_t a, std::size_t b) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    if (a >= b)
      return IndicatorError::invalid_period("APO fast period must be strictly less than slow");
    if (auto s = check_max({a, b}); !s) return s.error();
    return Apo(a, b);
  }
  std::optional<double> push(double close) {
    const auto e = lines_.push(close);
    if (!e) return std::nullopt;
    return (*e)[0] - (*e)[1];
  }
  std::size_t warmup_period() const { return lines_.slow.period(); }

 private:
  Apo(std::size_t a, std::size_t b) : lines_{EmaCore(a), EmaCore(b)} {}
  FastSlow lines_;
};

constexpr const char* kPpoOrder = "PPO fast period must be < slow period";

// Percentage price oscillator, 0 when the slow average is 0.
inline double ppo_of(const std::array<double, 2>& e) {
  const double es = e[1];
  if (es == 0) return 0.0;
  return ((e[0] - es) * 100.0) / es;
}

class Ppo {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Ppo, IndicatorError> create(std::size_t a, std::size_t b) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    if (a >= b) return IndicatorError::invalid_period(kPpoOrder);
    if (auto s = check_max({a, b}); !s) return s.error();
    return Ppo(a, b);
  }
  std::optional<double> push(double close) {
    const auto e = lines_.push(close);
    if (!e) return std::nullopt;
    return ppo_of(*e);
  }
  std::size_t warmup_period() const { return lines_.slow.period(); }

 private:
  Ppo(std::size_t a, std::size_t b) : lines_{EmaCore(a), EmaCore(b)} {}
  FastSlow lines_;
};

class PpoHistogram {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<PpoHistogram, IndicatorError> create(std::size_t a, std::size_t b,
                                                                   std::size_t c) {
    if (auto s = check_macd(a, b, c, kPpoOrder); !s) return s.error();
    return PpoHistogram(a, b, c);
  }
  std::optional<double> push(double close) {
    const auto e = lines_.push(close);
    if (!e) return std::nullopt;
    const double ppo = ppo_of(*e);
    const auto sig = signal_.push(ppo);
    if (!sig) return std::nullopt;
    return ppo - *sig;
  }
  std::size_t warmup_period() const { return lines_.slow.period() + signal_.period() - 1; }

 private:
  PpoHistogram(std::size_t a, std::size_t b, std::size_t c)
      : lines_{EmaCore(a), EmaCore(b)}, signal_(c) {}
  FastSlow lines_;
  EmaCore signal_;
};

// One-step percent change of a triple exponential average.
class Trix {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Trix, IndicatorError> create(std::size_t n) {
    if (auto s = check_period(n); !s) return s.error();
    return Trix(n);
  }
  std::optional<double> push(double close) {
    const auto e1 = e1_.push(close);
    if (!e1) return std::nullopt;
    const auto e2 = e2_.push(*e1);
    if (!e2) return std::nullopt;
    const auto e3 = e3_.push(*e2);
    if (!e3) return std::nullopt;
    if (!has_prev_) {
      prev_ = *e3;
      has_prev_ = true;
      return std::nullopt;
    }
    const double out = prev_ == 0 ? 0.0 : ((*e3 - prev_) * 100.0) / prev_;
    prev_ = *e3;
    return out;
  }
  std::size_t warmup_period() const { return 3 * e1_.period() - 1; }

 private:
  explicit Trix(std::size_t n) : e1_(n), e2_(n), e3_(n) {}
  EmaCore e1_, e2_, e3_;
  double prev_ = 0;
  bool has_prev_ = false;
};

// True strength: doubly smoothed momentum over doubly smoothed absolute momentum.
class Tsi {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Tsi, IndicatorError> create(std::size_t a, std::size_t b) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    if (auto s = check_max({a, b}); !s) return s.error();
    return Tsi(a, b);
  }
  std::optional<double> push(double close) {
    if (!has_prev_) {
      prev_ = close;
      has_prev_ = true;
      return std::nullopt;
    }
    const double mom = close - prev_;
    // The close becomes the reference even when the change overflowed, like every other
    // accepted close; only the smoothing chains skip the step.
    prev_ = close;
    if (!std::isfinite(mom)) return std::nullopt;
    const auto n1 = num1_.push(mom);
    const auto num = n1 ? num2_.push(*n1) : std::nullopt;
    const auto d1 = den1_.push(std::fabs(mom));
    const auto den = d1 ? den2_.push(*d1) : std::nullopt;
    if (!num || !den) return std::nullopt;
    if (*den == 0) return 0.0;
    return (*num * 100.0) / *den;
  }
  std::size_t warmup_period() const { return num1_.period() + num2_.period(); }

 private:
  Tsi(std::size_t a, std::size_t b) : num1_(a), num2_(b), den1_(a), den2_(b) {}
  double prev_ = 0;
  bool has_prev_ = false;
  EmaCore num1_, num2_, den1_, den2_;
};

// Doubly smoothed RSI minus its own simple average.
class DerivativeOscillator {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<DerivativeOscillator, IndicatorError> create(std::size_t r,
                                                                           std::size_t p,
                                                                           std::size_t q,
                                                                           std::size_t s) {
    if (auto st = check_nonzero({r, p, q, s}); !st) return st.error();
    if (auto st = check_max({r, p, q, s}); !st) return st.error();
    return DerivativeOscillator(*RsiCore::create(r), p, q, *RollingMean::create(s));
  }
  std::optional<double> push(double close) {
    const auto r = rsi_.push(close);
    if (!r) return std::nullopt;
    const auto e1 = first_.push(*r);
    if (!e1) return std::nullopt;
    const auto g = second_.push(*e1);
    if (!g || !std::isfinite(*g)) return std::nullopt;
    const auto mean = signal_.push(*g);
    if (!mean) return std::nullopt;
    return *g - *mean;
  }
  std::size_t warmup_period() const {
    return rsi_.period() + first_.period() + second_.period() + signal_.period() - 2;
  }

 private:
  DerivativeOscillator(RsiCore rsi, std::size_t p, std::size_t q, RollingMean signal)
      : rsi_(rsi), first_(p), second_(q), signal_(std::move(signal)) {}
  RsiCore rsi_;
  EmaCore first_, second_;
  RollingMean signal_;
};

// Position of the newest value within the range of a full window, in percent; 0 when flat.
double stochastic(const Ring<double>& w, double x) {
  double lo = w.oldest(), hi = lo;
  w.for_each([&](double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  });
  return hi > lo ? ((x - lo) * 100.0) / (hi - lo) : 0.0;
}

// Schaff trend cycle: a MACD passed twice through a smoothed stochastic over the cycle window.
class Stc {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<Stc, IndicatorError> create(std::size_t a, std::size_t b,
                                                          std::size_t c, double f) {
    if (auto s = check_nonzero({a, b, c}); !s) return s.error();
    if (a >= b)
      return IndicatorError::invalid_period("STC fast period must be strictly less than slow");
    if (!std::isfinite(f) || !(f > 0) || f > 1)
      return IndicatorError::invalid_period("STC factor must be a finite value in (0, 1]");
    // The cycle window has no stated limit; the engine's window limit bounds it like the others.
    if (auto s = check_max({a, b, c}); !s) return s.error();
    return Stc(a, b, c, f);
  }

  std::optional<double> push(double close) {
    const auto e = lines_.push(close);
    if (!e) return std::nullopt;
    const double macd = (*e)[0] - (*e)[1];
    macds_.push(macd);
    if (!macds_.full()) return std::nullopt;
    const double k1 = stochastic(macds_, macd);
    pf_ = has_pf_ ? (k1 - pf_) * f_ + pf_ : k1;
    has_pf_ = true;
    pfs_.push(pf_);
    if (!pfs_.full()) return std::nullopt;
    const double k2 = stochastic(pfs_, pf_);
    stc_ = has_stc_ ? (k2 - stc_) * f_ + stc_ : k2;
    has_stc_ = true;
    return clamp(stc_, 0.0, 100.0);
  }

  std::size_t warmup_period() const { return lines_.slow.period() + 2 * macds_.capacity() - 2; }

 private:
  Stc(std::size_t a, std::size_t b, std::size_t c, double f)
      : lines_{EmaCore(a), EmaCore(b)}, macds_(c), pfs_(c), f_(f) {}
  FastSlow lines_;
  Ring<double> macds_, pfs_;
  double f_;
  double pf_ = 0, stc_ = 0;
  bool has_pf_ = false, has_stc_ = false;
};

// Wave power: how large the latest a-step move is relative to its recent typical size.
class WavePm {
 public:
  static constexpr InputKind kInput = InputKind::Close;
  [[nodiscard]] static Result<WavePm, IndicatorError> create(std::size_t a, std::size_t b) {
    if (auto s = check_nonzero({a, b}); !s) return s.error();
    if (auto s = check_max({a, b}); !s) return s.error();
    return WavePm(a, b);
  }
  std::optional<double> push(double close) {
    closes_.push(close);
    if (!closes_.full()) return std::nullopt;
    const double d = close - closes_.oldest();
    const double sq = d * d;
    if (!std::isfinite(sq)) return std::nullopt;
    const auto v = power_.push(sq);
    if (!v) return std::nullopt;
    const double pm = *v <= 0 ? 0.0 : 1.0 - std::exp(-sq / (*v + *v));
    if (!std::isfinite(pm)) return std::nullopt;
    const auto out = smooth_.push(pm);
    if (!out) return std::nullopt;
    return *out * 100.0;
  }
  std::size_t warmup_period() const { return 2 * power_.period() + smooth_.period() - 1; }

 private:
  WavePm(std::size_t a, std::size_t b) : closes_(a + 1), power_(a), smooth_(b) {}
  Ring<double> closes_;
  EmaCore power_, smooth_;
};

}  // namespace

void register_momentum_averages(FamilyTable& t) {
  t.add("Qqe", [](const Params& p) { return wrap(Qqe::create(p.n(0), p.n(1), p.f(2))); },
        {14, 5, 4.236});
  t.add("Cmo", [](const Params& p) { return wrap(Cmo::create(p.n(0))); }, {14});
  t.add("MacdIndicator",
        [](const Params& p) {
          return wrap(MacdIndicator<MacdOut::Lines>::create(p.n(0), p.n(1), p.n(2)));
        },
        {12, 26, 9});
  // The fast and slow lengths are fixed at the conventional 12 and 26.
  t.add("MacdFix",
        [](const Params& p) { return wrap(MacdIndicator<MacdOut::Lines>::create(12, 26, p.n(0))); },
        {9});
  t.add("MacdHistogram",
        [](const Params& p) {
          return wrap(MacdIndicator<MacdOut::Histogram>::create(p.n(0), p.n(1), p.n(2)));
        },
        {12, 26, 9});
  t.add("ZeroLagMacd",
        [](const Params& p) { return wrap(ZeroLagMacd::create(p.n(0), p.n(1), p.n(2))); },
        {12, 26, 9});
  t.add("VolumeWeightedMacd",
        [](const Params& p) { return wrap(VolumeWeightedMacd::create(p.n(0), p.n(1), p.n(2))); },
        {12, 26, 9});
  t.add("Apo", [](const Params& p) { return wrap(Apo::create(p.n(0), p.n(1))); }, {12, 26});
  t.add("Ppo", [](const Params& p) { return wrap(Ppo::create(p.n(0), p.n(1))); }, {12, 26});
  t.add("PpoHistogram",
        [](const Params& p) { return wrap(PpoHistogram::create(p.n(0), p.n(1), p.n(2))); },
        {12, 26, 9});
  t.add("Trix", [](const Params& p) { return wrap(Trix::create(p.n(0))); }, {15});
  t.add("Tsi", [](const Params& p) { return wrap(Tsi::create(p.n(0), p.n(1))); }, {25, 13});
  t.add("DerivativeOscillator",
        [](const Params& p) {
          return wrap(DerivativeOscillator::create(p.n(0), p.n(1), p.n(2), p.n(3)));
        },
        {14, 5, 3, 9});
  t.add("Stc", [](const Params& p) { return wrap(Stc::create(p.n(0), p.n(1), p.n(2), p.f(3))); },
        {23, 50, 10, 0.5});
  t.add("WavePm", [](const Params& p) { return wrap(WavePm::create(p.n(0), p.n(1))); }, {14, 100});
}

}  // namespace ostrel
