// Market breadth: how much of a universe takes part in a move, read from the step's cross-section
// only. Steps without one advance nothing, so running totals and averages count only the steps
// that carry a cross-section.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "../evaluator.h"
#include "../numeric/rolling_mean.h"
#include "../registry.h"
#include "families.h"

namespace ostrel {
namespace {

// Smallest positive normal double: a zero total volume then contributes 0, not NaN.
constexpr double kMinNormal = 2.2250738585072014e-308;

// x when `keep`, else -0.0 (which leaves any sum unchanged), without a branch: change signs are
// close to random, so a branch would mispredict on every other member.
double keep_or_negative_zero(bool keep, double x) {
  const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(keep);
  const std::uint64_t negative_zero = std::uint64_t{1} << 63;
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(x) & mask) | (negative_zero & ~mask));
}

// Counts and volume sums over one cross-section (volumes summed from -0.0 in member order).
struct Breadth {
  double members = 0, adv = 0, dec = 0, up_vol = -0.0, down_vol = -0.0, total_vol = -0.0,
         highs = 0, lows = 0, above_ma = 0, bullish = 0;

  explicit Breadth(const CrossSection& cs) {
    std::size_t a = 0, d = 0, h = 0, l = 0, ma = 0, bull = 0;
    for (const CrossSectionMember& m : cs.members) {
      const bool up = m.change > 0, down = m.change < 0;
      a += up;
      d += down;
      up_vol += keep_or_negative_zero(up, m.volume);
      down_vol += keep_or_negative_zero(down, m.volume);
      total_vol += m.volume;
      h += m.new_high;
      l += m.new_low;
      ma += m.above_ma;
      bull += m.bullish;
    }
    members = static_cast<double>(cs.members.size());
    adv = static_cast<double>(a);
    dec = static_cast<double>(d);
    highs = static_cast<double>(h);
    lows = static_cast<double>(l);
    above_ma = static_cast<double>(ma);
    bullish = static_cast<double>(bull);
  }
  // Count denominators of 0 are replaced by 1; volume sums are floored at 1.
  double dec_or_one() const { return dec == 0 ? 1.0 : dec; }
  static double at_least_one(double v) { return v < 1 ? 1.0 : v; }
  static double ratio_or_zero(double num, double den) { return num / (den == 0 ? 1.0 : den); }
};

// Snapshot members: a pure function of the step's cross-section.
template <double (*F)(const Breadth&)>
class Snapshot {
 public:
  static constexpr InputKind kInput = InputKind::CrossSection;
  std::optional<double> push(const CrossSection& cs) const { return F(Breadth(cs)); }
  std::size_t warmup_period() const { return 1; }
};

// Cumulative members: a running total of a per-step increment, never reset.
template <double (*F)(const Breadth&)>
class Cumulative {
 public:
  static constexpr InputKind kInput = InputKind::CrossSection;
  std::optional<double> push(const CrossSection& cs) {
    total_ = total_ + F(Breadth(cs));
    return total_;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  double total_ = 0.0;
};

double tick(const Breadth& b) { return b.adv - b.dec; }
double ad_ratio(const Breadth& b) { return b.adv / b.dec_or_one(); }
double abs_breadth(const Breadth& b) { return std::fabs(b.adv - b.dec); }
double trin(const Breadth& b) {
  return (b.adv / b.dec_or_one()) /
         (Breadth::at_least_one(b.up_vol) / Breadth::at_least_one(b.down_vol));
}
double up_down_volume(const Breadth& b) { return b.up_vol / Breadth::at_least_one(b.down_vol); }
double net_volume(const Breadth& b) { return b.up_vol - b.down_vol; }
double cvi_step(const Breadth& b) {
  return (b.up_vol - b.down_vol) / (b.total_vol < kMinNormal ? kMinNormal : b.total_vol);
}
double highs_lows(const Breadth& b) { return b.highs - b.lows; }
double percent_above_ma(const Breadth& b) { return 100.0 * b.above_ma / b.members; }
double bullish_percent(const Breadth& b) { return 100.0 * b.bullish / b.members; }

double high_low_record(const Breadth& b) {
  return Breadth::ratio_or_zero(100.0 * b.highs, b.highs + b.lows);
}
double thrust_record(const Breadth& b) { return Breadth::ratio_or_zero(b.adv, b.adv + b.dec); }

// Rolling mean of a per-step breadth record.
template <double (*F)(const Breadth&)>
class Smoothed {
 public:
  static constexpr InputKind kInput = InputKind::CrossSection;
  static Result<Smoothed, IndicatorError> create(std::size_t period) {
    auto mean = numeric::RollingMean::create(period);
    if (!mean) return std::move(mean).error();
    return Smoothed(std::move(mean).value());
  }
  std::optional<double> push(const CrossSection& cs) { return mean_.push(F(Breadth(cs))); }
  std::size_t warmup_period() const { return mean_.period(); }

 private:
  explicit Smoothed(numeric::RollingMean mean) : mean_(std::move(mean)) {}
  numeric::RollingMean mean_;
};

// Fast (0.1) and slow (0.05) exponential averages of the ratio-adjusted net advances, both seeded
// with the first cross-section's value.
class McClellanAverages {
 public:
  // Returns fast - slow after taking in this step.
  double push(const Breadth& b) {
    const double den = b.adv + b.dec;
    const double rana = den == 0 ? 0.0 : 1000.0 * (b.adv - b.dec) / den;
    if (!seeded_) {
      fast_ = slow_ = rana;
      seeded_ = true;
    } else {
      fast_ = fast_ + 0.1 * (rana - fast_);
      slow_ = slow_ + 0.05 * (rana - slow_);
    }
    return fast_ - slow_;
  }

 private:
  double fast_ = 0, slow_ = 0;
  bool seeded_ = false;
};

class McClellanOscillator {
 public:
  static constexpr InputKind kInput = InputKind::CrossSection;
  std::optional<double> push(const CrossSection& cs) { return avg_.push(Breadth(cs)); }
  std::size_t warmup_period() const { return 1; }

 private:
  McClellanAverages avg_;
};

class McClellanSummationIndex {
 public:
  static constexpr InputKind kInput = InputKind::CrossSection;
  std::optional<double> push(const CrossSection& cs) {
    total_ = total_ + avg_.push(Breadth(cs));
    return total_;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  McClellanAverages avg_;
  double total_ = 0.0;
};

template <class Ind>
EvaluatorResult plain(const Params&) {
  return make_evaluator(Ind{});
}

template <class Ind>
EvaluatorResult windowed(const Params& p) {
  return wrap(Ind::create(p.n(0)));
}

}  // namespace

void register_breadth(FamilyTable& t) {
  t.add("AdvanceDecline", plain<Cumulative<tick>>, {});
  t.add("AdvanceDeclineRatio", plain<Snapshot<ad_ratio>>, {});
  t.add("AbsoluteBreadthIndex", plain<Snapshot<abs_breadth>>, {});
  t.add("TickIndex", plain<Snapshot<tick>>, {});
  t.add("Trin", plain<Snapshot<trin>>, {});
  t.add("UpDownVolumeRatio", plain<Snapshot<up_down_volume>>, {});
  t.add("AdVolumeLine", plain<Cumulative<net_volume>>, {});
  t.add("CumulativeVolumeIndex", plain<Cumulative<cvi_step>>, {});
  t.add("NewHighsNewLows", plain<Snapshot<highs_lows>>, {});
  t.add("HighLowIndex", windowed<Smoothed<high_low_record>>, {10});
  t.add("BreadthThrust", windowed<Smoothed<thrust_record>>, {10});
  t.add("McClellanOscillator", plain<McClellanOscillator>, {});
  t.add("McClellanSummationIndex", plain<McClellanSummationIndex>, {});
  t.add("PercentAboveMa", plain<Snapshot<percent_above_ma>>, {});
  t.add("BullishPercentIndex", plain<Snapshot<bullish_percent>>, {});
}

}  // namespace ostrel
