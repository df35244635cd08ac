// Perpetual-swap and futures features from the step's derivatives tick: funding, basis and
// premium, open-interest dynamics, positioning ratios and liquidations. The adapter passes only
// steps that carry a tick, so a tick-less step changes nothing here.

#include <array>
#include <cmath>
#include <optional>
#include <span>

#include "../numeric/ring.h"
#include "../numeric/rolling_moments.h"
#include "../numeric/rolling_sum.h"
#include "families.h"

namespace ostrel {
namespace {

using Built = EvaluatorResult;
using Tick = DerivativesTick;

// The stateless members: one formula of the tick each.
template <double (*F)(const Tick&)>
class TickFormula {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<TickFormula, IndicatorError> create() { return TickFormula{}; }
  std::optional<double> push(const Tick& d) { return F(d); }
  std::size_t warmup_period() const { return 1; }
};

double funding_rate(const Tick& d) { return d.funding_rate; }
double mark_premium(const Tick& d) { return (d.mark_price - d.index_price) / d.index_price; }
double term_basis(const Tick& d) { return (d.futures_price - d.index_price) / d.index_price; }
double calendar_spread(const Tick& d) { return (d.futures_price - d.mark_price) / d.mark_price; }
double oi_to_volume(const Tick& d) {
  const double v = d.taker_buy_volume + d.taker_sell_volume;
  return v > 0 ? d.open_interest / v : 0.0;
}
double leverage(const Tick& d) {
  const double s = d.long_size + d.short_size;
  return s > 0 ? d.open_interest / s : 0.0;
}
// Only an exact zero is guarded; a NaN denominator passes through.
double long_short(const Tick& d) { return d.short_size == 0 ? 0.0 : d.long_size / d.short_size; }
double taker_buy_sell(const Tick& d) {
  return d.taker_sell_volume == 0 ? 0.0 : d.taker_buy_volume / d.taker_sell_volume;
}

class FundingImpliedApr {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<FundingImpliedApr, IndicatorError> create(double intervals) {
    if (!std::isfinite(intervals) || !(intervals > 0))
      return IndicatorError::invalid_parameter("intervals_per_year must be finite and positive");
    return FundingImpliedApr(intervals);
  }
  std::optional<double> push(const Tick& d) { return d.funding_rate * intervals_; }
  std::size_t warmup_period() const { return 1; }

 private:
  explicit FundingImpliedApr(double k) : intervals_(k) {}
  double intervals_;
};

class FundingRateMean {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<FundingRateMean, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return FundingRateMean(period);
  }
  std::optional<double> push(const Tick& d) {
    sum_.push(d.funding_rate);
    if (!sum_.full()) return std::nullopt;
    return sum_.sum() / static_cast<double>(sum_.period());
  }
  std::size_t warmup_period() const { return sum_.period(); }

 private:
  explicit FundingRateMean(std::size_t n) : sum_(n) {}
  numeric::RollingSum sum_;
};

class FundingRateZScore {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<FundingRateZScore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return FundingRateZScore(period);
  }
  std::optional<double> push(const Tick& d) {
    m_.push(d.funding_rate);
    if (!m_.full()) return std::nullopt;
    const double var = m_.variance();
    if (var == 0) return 0.0;
    return (d.funding_rate - m_.mean()) / std::sqrt(var);
  }
  std::size_t warmup_period() const { return m_.period(); }

 private:
  explicit FundingRateZScore(std::size_t n) : m_(n) {}
  numeric::RollingMoments m_;
};

class OpenInterestDelta {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<OpenInterestDelta, IndicatorError> create() {
    return OpenInterestDelta{};
  }
  std::optional<double> push(const Tick& d) {
    const std::optional<double> prev = prev_;
    prev_ = d.open_interest;
    if (!prev) return std::nullopt;
    return d.open_interest - *prev;
  }
  std::size_t warmup_period() const { return 2; }

 private:
  std::optional<double> prev_;
};

class OpenInterestMomentum {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<OpenInterestMomentum, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return OpenInterestMomentum(period);
  }
  std::optional<double> push(const Tick& d) {
    win_.push(d.open_interest);
    if (!win_.full()) return std::nullopt;
    const double e = win_.oldest();
    if (!(e > 0)) return 0.0;
    return (win_.newest() - e) * 100 / e;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  explicit OpenInterestMomentum(std::size_t n) : win_(n + 1) {}
  numeric::Ring<double> win_;
};

class OIPriceDivergence {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<OIPriceDivergence, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return OIPriceDivergence(period);
  }
  std::optional<double> push(const Tick& d) {
    win_.push({d.open_interest, d.mark_price});
    if (!win_.full()) return std::nullopt;
    const Obs& a = win_.oldest();
    const Obs& b = win_.newest();
    const double oi_change = a.oi != 0 ? (b.oi - a.oi) / a.oi : 0.0;
    return oi_change - (b.mark - a.mark) / a.mark;
  }
  std::size_t warmup_period() const { return win_.capacity(); }

 private:
  struct Obs {
    double oi, mark;
  };
  explicit OIPriceDivergence(std::size_t n) : win_(n + 1) {}
  numeric::Ring<Obs> win_;
};

// Mean mark price weighted by open interest, over every tick since creation.
class OIWeighted {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<OIWeighted, IndicatorError> create() { return OIWeighted{}; }
  std::optional<double> push(const Tick& d) {
    weighted_ += d.mark_price * d.open_interest;
    oi_ += d.open_interest;
    if (oi_ == 0) return d.mark_price;
    return weighted_ / oi_;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  double weighted_ = 0.0, oi_ = 0.0;
};

class LiquidationFeatures {
 public:
  static constexpr InputKind kInput = InputKind::Derivatives;
  [[nodiscard]] static Result<LiquidationFeatures, IndicatorError> create() {
    return LiquidationFeatures{};
  }
  std::optional<double> push(const Tick& d) {
    const double l = d.long_liquidation, s = d.short_liquidation;
    const double total = l + s;
    extras_ = {l, s, l - s, total, total == 0 ? 0.0 : (l - s) / total};
    return l;
  }
  std::size_t warmup_period() const { return 1; }
  std::span<const double> extras() const { return extras_; }

 private:
  std::array<double, 5> extras_{};  // long, short, net, total, imbalance
};

template <double (*F)(const Tick&)>
Built stateless(const Params&) {
  return wrap(TickFormula<F>::create());
}

}  // namespace

void register_derivatives(FamilyTable& t) {
  t.add("FundingRate", stateless<funding_rate>, {});
  t.add("FundingImpliedApr",
        [](const Params& p) -> Built { return wrap(FundingImpliedApr::create(p.f(0))); }, {1095});
  t.add("FundingRateMean",
        [](const Params& p) -> Built { return wrap(FundingRateMean::create(p.n(0))); }, {8});
  t.add("FundingRateZScore",
        [](const Params& p) -> Built { return wrap(FundingRateZScore::create(p.n(0))); }, {8});
  t.add("FundingBasis", stateless<mark_premium>, {});
  t.add("PerpetualPremiumIndex", stateless<mark_premium>, {});
  t.add("TermStructureBasis", stateless<term_basis>, {});
  t.add("CalendarSpread", stateless<calendar_spread>, {});
  t.add("OpenInterestDelta",
        [](const Params&) -> Built { return wrap(OpenInterestDelta::create()); }, {});
  t.add("OpenInterestMomentum",
        [](const Params& p) -> Built { return wrap(OpenInterestMomentum::create(p.n(0))); }, {10});
  t.add("OIPriceDivergence",
        [](const Params& p) -> Built { return wrap(OIPriceDivergence::create(p.n(0))); }, {10});
  t.add("OIWeighted", [](const Params&) -> Built { return wrap(OIWeighted::create()); }, {});
  t.add("OiToVolumeRatio", stateless<oi_to_volume>, {});
  t.add("EstimatedLeverageRatio", stateless<leverage>, {});
  t.add("LongShortRatio", stateless<long_short>, {});
  t.add("TakerBuySellRatio", stateless<taker_buy_sell>, {});
  t.add("LiquidationFeatures",
        [](const Params&) -> Built { return wrap(LiquidationFeatures::create()); }, {});
}

}  // namespace ostrel
