// Order-book and trade microstructure: one number per step from the step's book snapshot and its
// list of trade prints. A step that lacks what a member needs yields nothing and leaves the
// member as it was.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "../evaluator.h"
#include "../numeric/midpoint.h"
#include "../numeric/ring.h"
#include "../numeric/rolling_comoments.h"
#include "../numeric/rolling_sum.h"
#include "../numeric/window_sum.h"
#include "../registry.h"
#include "families.h"

namespace ostrel {
namespace {

using numeric::overflow_safe_midpoint;
using numeric::Ring;
using numeric::RollingSum;
using numeric::RunningWindowSum;

double sign(const TradePrint& t) { return t.side == Side::Buy ? 1.0 : -1.0; }

bool two_sided(const OrderBook& b) { return !b.bids.empty() && !b.asks.empty(); }

double book_mid(const OrderBook& b) {
  return overflow_safe_midpoint(b.bids[0].price, b.asks[0].price);
}

// The mid that trades are measured against: the book's when the step has a two-sided book, the
// close otherwise; unusable unless finite and positive.
std::optional<double> reference_mid(const StepContext& s) {
  double m;
  if (s.book != nullptr && two_sided(*s.book)) {
    m = book_mid(*s.book);
  } else if (s.candle != nullptr) {
    m = s.candle->close;
  } else {
    return std::nullopt;
  }
  if (!(std::isfinite(m) && m > 0)) return std::nullopt;
  return m;
}

// Window checks shared by the windowed members. A count of 0 passes the parameter reader as
// 1e-300 and would leave a window that can never fill (or a division by zero), so it is refused.
Status<IndicatorError> check_window(std::size_t n) { return check_period(n); }

// ---------------------------------------------------------------------------------------------
// Book members

double imbalance(double b, double a) { return b + a <= 0 ? 0.0 : (b - a) / (b + a); }

// Sum of the sizes of the first `count` levels, best first.
double depth(std::span<const Level> side, std::size_t count) {
  double s = -0.0;
  const std::size_t k = count < side.size() ? count : side.size();
  for (std::size_t i = 0; i < k; ++i) s += side[i].size;
  return s;
}

class OrderBookImbalanceTop1 {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  std::optional<double> push(const OrderBook& b) {
    if (!two_sided(b)) return 0.0;
    return imbalance(b.bids[0].size, b.asks[0].size);
  }
  std::size_t warmup_period() const { return 1; }
};

class OrderBookImbalanceTopN {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  // The level count is not a window (nothing is stored), so only 0 is refused.
  static Result<OrderBookImbalanceTopN, IndicatorError> create(std::size_t levels) {
    if (levels == 0) return IndicatorError::zero_period();
    return OrderBookImbalanceTopN(levels);
  }
  std::optional<double> push(const OrderBook& b) const {
    return imbalance(depth(b.bids, levels_), depth(b.asks, levels_));
  }
  std::size_t warmup_period() const { return 1; }

 private:
  explicit OrderBookImbalanceTopN(std::size_t levels) : levels_(levels) {}
  std::size_t levels_;
};

class OrderBookImbalanceFull {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  std::optional<double> push(const OrderBook& b) const {
    return imbalance(depth(b.bids, b.bids.size()), depth(b.asks, b.asks.size()));
  }
  std::size_t warmup_period() const { return 1; }
};

class Microprice {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  std::optional<double> push(const OrderBook& b) const {
    if (!two_sided(b)) return 0.0;
    const double pb = b.bids[0].price, qb = b.bids[0].size;
    const double pa = b.asks[0].price, qa = b.asks[0].size;
    if (qb + qa <= 0) return book_mid(b);
    const double weighted = (pb * qa + pa * qb) / (qb + qa);
    if (std::isfinite(weighted)) return weighted;
    // Prices or sizes near the top of the double range overflow the products or the size sum
    // although the micro-price lies between the two best prices. Same weighting, formed from
    // sizes scaled to at most 1 and the (finite) spread.
    const double scale = qb > qa ? qb : qa;
    const double wb = qb / scale, wa = qa / scale;
    return pb + (pa - pb) * (wb / (wb + wa));
  }
  std::size_t warmup_period() const { return 1; }
};

class QuotedSpread {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  std::optional<double> push(const OrderBook& b) const {
    if (!two_sided(b)) return 0.0;
    return (b.asks[0].price - b.bids[0].price) / book_mid(b) * 10000.0;
  }
  std::size_t warmup_period() const { return 1; }
};

// Least-squares slope of cumulative size against distance from the mid over one side's levels,
// with distances multiplied by 2^-x_exp and cumulative sizes by 2^-y_exp; 0 when the fit is
// degenerate.
double scaled_depth_slope(std::span<const Level> side, double mid, bool bids, int x_exp,
                          int y_exp) {
  double sx = -0.0, sy = -0.0, sxy = -0.0, sxx = -0.0, cum = -0.0;
  for (const Level& l : side) {
    const double x = std::ldexp(bids ? mid - l.price : l.price - mid, -x_exp);
    cum += std::ldexp(l.size, -y_exp);
    sx += x;
    sy += cum;
    sxy += x * cum;
    sxx += x * x;
  }
  const double n = static_cast<double>(side.size());
  const double den = n * sxx - sx * sx;
  if (den == 0) return 0.0;
  return (n * sxy - sx * sy) / den;
}

double depth_slope(std::span<const Level> side, double mid, bool bids) {
  const double slope = scaled_depth_slope(side, mid, bids, 0, 0);
  if (std::isfinite(slope)) return slope;
  // Only overflow makes the fit infinite or NaN: distances or cumulative sizes near the top of
  // the double range overflow their sums, squares and products. The slope is a ratio, so the fit is done
  // again on both coordinates scaled by powers of two to at most about 1 and scaled back.
  double x_max = 0, size_max = 0;
  for (const Level& l : side) {
    x_max = std::fmax(x_max, std::fabs(bids ? mid - l.price : l.price - mid));
    size_max = std::fmax(size_max, l.size);
  }
  int x_exp = 0, y_exp = 0;
  std::frexp(x_max, &x_exp);
  std::frexp(size_max, &y_exp);
  y_exp += static_cast<int>(std::bit_width(side.size()));  // room for the cumulative sum
  return std::ldexp(scaled_depth_slope(side, mid, bids, x_exp, y_exp), y_exp - x_exp);
}

class DepthSlope {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  std::optional<double> push(const OrderBook& b) const {
    if (b.bids.size() < 2 || b.asks.size() < 2) return 0.0;
    const double g = book_mid(b);
    return overflow_safe_midpoint(depth_slope(b.bids, g, true), depth_slope(b.asks, g, false));
  }
  std::size_t warmup_period() const { return 1; }
};

// Best-level order-flow imbalance summed over the last `period` book changes.
class OrderFlowImbalance {
 public:
  static constexpr InputKind kInput = InputKind::Book;
  static Result<OrderFlowImbalance, IndicatorError> create(std::size_t period) {
    if (auto s = check_window(period); !s) return s.error();
    return OrderFlowImbalance(period);
  }
  std::optional<double> push(const OrderBook& b) {
    if (!two_sided(b)) return std::nullopt;
    const Level bid = b.bids[0], ask = b.asks[0];
    if (!has_prev_) {
      prev_bid_ = bid;
      prev_ask_ = ask;
      has_prev_ = true;
      return std::nullopt;
    }
    auto ind = [](bool c) { return c ? 1.0 : 0.0; };
    const double e_bid = bid.size * ind(bid.price >= prev_bid_.price) -
                         prev_bid_.size * ind(bid.price <= prev_bid_.price);
    const double e_ask = ask.size * ind(ask.price <= prev_ask_.price) -
                         prev_ask_.size * ind(ask.price >= prev_ask_.price);
    prev_bid_ = bid;
    prev_ask_ = ask;
    flow_.push(e_bid - e_ask);
    if (!flow_.full()) return std::nullopt;
    return flow_.sum();
  }
  std::size_t warmup_period() const { return period_ + 1; }

 private:
  explicit OrderFlowImbalance(std::size_t period) : flow_(period), period_(period) {}
  RollingSum flow_;
  std::size_t period_;
  Level prev_bid_, prev_ask_;
  bool has_prev_ = false;
};

// ---------------------------------------------------------------------------------------------
// Trade members measured against the reference mid

class EffectiveSpread {
 public:
  static constexpr InputKind kInput = InputKind::TradesWithBook;
  std::optional<double> push(const StepContext& s) const {
    if (s.trades.empty()) return std::nullopt;
    const auto m = reference_mid(s);
    if (!m) return std::nullopt;
    const TradePrint& t = s.trades.back();
    return 2.0 * sign(t) * (t.price - *m) / *m * 10000.0;
  }
  std::size_t warmup_period() const { return 1; }
};

// Spread realised by each trade once `horizon` later trades have arrived, measured against the
// mid of the step in which it is realised.
class RealizedSpread {
 public:
  static constexpr InputKind kInput = InputKind::TradesWithBook;
  static Result<RealizedSpread, IndicatorError> create(std::size_t horizon) {
    if (auto s = check_window(horizon); !s) return s.error();
    return RealizedSpread(horizon);
  }
  std::optional<double> push(const StepContext& s) {
    if (s.trades.empty()) return std::nullopt;
    const auto m = reference_mid(s);
    if (!m) return std::nullopt;
    std::optional<double> out;
    for (const TradePrint& t : s.trades) {
      // A ring of `horizon` entries that evicts on push holds exactly what a ring of horizon + 1
      // holds after its oldest entry is taken out.
      const bool realises = pending_.full();
      Entry old{};
      pending_.push({sign(t), t.price, *m}, &old);
      if (realises) {
        out = 2.0 * old.s * (old.p - *m) / old.m * 10000.0;
      } else {
        out.reset();
      }
    }
    return out;
  }
  std::size_t warmup_period() const { return horizon_ + 1; }

 private:
  struct Entry {
    double s, p, m;
  };
  explicit RealizedSpread(std::size_t horizon) : pending_(horizon), horizon_(horizon) {}
  Ring<Entry> pending_;
  std::size_t horizon_;
};

// Regression slope of the mid change on the signed trade size over the last `window` trades.
class KylesLambda {
 public:
  static constexpr InputKind kInput = InputKind::TradesWithBook;
  static Result<KylesLambda, IndicatorError> create(std::size_t window) {
    if (window < 2) return IndicatorError::invalid_period("kyle's lambda needs window >= 2");
    if (window > MAX_PERIOD) return IndicatorError::period_too_large();
    return KylesLambda(window);
  }
  std::optional<double> push(const StepContext& s) {
    if (s.trades.empty()) return std::nullopt;
    const auto m = reference_mid(s);
    if (!m) return std::nullopt;
    std::optional<double> out;
    for (const TradePrint& t : s.trades) {
      if (!has_prev_) {
        prev_mid_ = *m;
        has_prev_ = true;
        out.reset();
        continue;
      }
      // Only the first trade of a step sees the mid move; the rest carry a change of 0.
      const double y = *m - prev_mid_;
      prev_mid_ = *m;
      moments_.push(sign(t) * t.size, y);
      if (!moments_.full()) {
        out.reset();
        continue;
      }
      const double var = moments_.var_u();
      out = var != 0 ? moments_.cov() / var : 0.0;
    }
    return out;
  }
  std::size_t warmup_period() const { return window_ + 1; }

 private:
  explicit KylesLambda(std::size_t window) : moments_(window), window_(window) {}
  numeric::RollingCoMoments moments_;
  std::size_t window_;
  double prev_mid_ = 0;
  bool has_prev_ = false;
};

// ---------------------------------------------------------------------------------------------
// Trade-only members

class SignedVolume {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  std::optional<double> push(std::span<const TradePrint> trades) const {
    if (trades.empty()) return std::nullopt;
    return sign(trades.back()) * trades.back().size;
  }
  std::size_t warmup_period() const { return 1; }
};

class CumulativeVolumeDelta {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    for (const TradePrint& t : trades) total_ = total_ + sign(t) * t.size;
    return total_;
  }
  std::size_t warmup_period() const { return 1; }

 private:
  double total_ = 0.0;
};

// Buy against sell volume over the last `period` trades. The two sums are kept by addition and
// subtraction only (no periodic re-summation).
class TradeImbalance {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<TradeImbalance, IndicatorError> create(std::size_t period) {
    if (auto s = check_window(period); !s) return s.error();
    return TradeImbalance(period);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    for (const TradePrint& t : trades) {
      const bool is_buy = t.side == Side::Buy;
      buy_.push(is_buy ? t.size : 0.0);
      sell_.push(is_buy ? 0.0 : t.size);
    }
    if (!buy_.full()) return std::nullopt;
    return imbalance(buy_.sum(), sell_.sum());
  }
  std::size_t warmup_period() const { return buy_.capacity(); }

 private:
  explicit TradeImbalance(std::size_t period)
      : buy_(period), sell_(period) {}
  RunningWindowSum buy_, sell_;
};

// Lag-1 autocorrelation of trade signs without mean removal. Sign products are exact integers,
// so their window sum is kept exactly as an integer.
class TradeSignAutocorrelation {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<TradeSignAutocorrelation, IndicatorError> create(std::size_t period) {
    if (period < 2)
      return IndicatorError::invalid_period("trade-sign autocorrelation needs period >= 2");
    if (period > MAX_PERIOD) return IndicatorError::period_too_large();
    return TradeSignAutocorrelation(period);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    for (const TradePrint& t : trades) {
      const std::int8_t s = t.side == Side::Buy ? 1 : -1;
      if (ring_.full()) {
        // The oldest pair (s_1, s_2) leaves the window with s_1.
        products_ -= ring_[0] * ring_[1];
      }
      if (!ring_.empty()) products_ += ring_.newest() * s;
      ring_.push(s);
    }
    if (!ring_.full()) return std::nullopt;
    return static_cast<double>(products_) / static_cast<double>(ring_.capacity() - 1);
  }
  std::size_t warmup_period() const { return ring_.capacity(); }

 private:
  explicit TradeSignAutocorrelation(std::size_t period) : ring_(period) {}
  Ring<std::int8_t> ring_;
  std::int64_t products_ = 0;
};

// Absolute buy/sell count imbalance over the last `period` trades.
class Pin {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<Pin, IndicatorError> create(std::size_t period) {
    if (auto s = check_window(period); !s) return s.error();
    return Pin(period);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    for (const TradePrint& t : trades) {
      const std::uint8_t buy = t.side == Side::Buy ? 1 : 0;
      std::uint8_t old = 0;
      const bool evicts = ring_.full();
      ring_.push(buy, &old);
      if (evicts && old) --buys_;
      if (buy) ++buys_;
    }
    if (!ring_.full()) return std::nullopt;
    const auto n = static_cast<std::int64_t>(ring_.capacity());
    const std::int64_t d = 2 * buys_ - n;
    return static_cast<double>(d < 0 ? -d : d) / static_cast<double>(n);
  }
  std::size_t warmup_period() const { return ring_.capacity(); }

 private:
  explicit Pin(std::size_t period) : ring_(period) {}
  Ring<std::uint8_t> ring_;
  std::int64_t buys_ = 0;
};

// ln(p / prev). Prices many orders of magnitude apart overflow the ratio or underflow it (to 0
// or to a subnormal that has lost digits), which would put an infinite or wrong sample into the
// window for `period` trades; the difference of the logarithms stays finite and exact there.
double log_return(double p, double prev) {
  const double ratio = p / prev;
  if (!(ratio >= std::numeric_limits<double>::min() &&
        ratio <= std::numeric_limits<double>::max()))
    return std::log(p) - std::log(prev);
  return std::log(ratio);
}

// Mean absolute log return per unit of traded value over the last `period` trade-to-trade moves.
class AmihudIlliquidity {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<AmihudIlliquidity, IndicatorError> create(std::size_t period) {
    if (auto s = check_window(period); !s) return s.error();
    return AmihudIlliquidity(period);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    std::optional<double> out;
    for (const TradePrint& t : trades) {
      if (t.size == 0) {  // no traded value: nothing moves, the last value stands
        out = last_;
        continue;
      }
      if (!has_prev_) {
        prev_ = t.price;
        has_prev_ = true;
        out.reset();
        continue;
      }
      const double r = log_return(t.price, prev_);
      // A tiny price times a tiny size can underflow to 0; an unchanged price then still moved
      // nothing per unit of value, where 0 / 0 would keep the window NaN for `period` trades.
      window_.push(r == 0 ? 0.0 : std::fabs(r) / (t.price * t.size));
      prev_ = t.price;
      if (window_.full()) {
        last_ = window_.sum() / static_cast<double>(period_);
        out = last_;
      } else {
        out.reset();
      }
    }
    return out;
  }
  std::size_t warmup_period() const { return period_ + 1; }

 private:
  explicit AmihudIlliquidity(std::size_t period) : window_(period), period_(period) {}
  RollingSum window_;
  std::size_t period_;
  double prev_ = 0;
  bool has_prev_ = false;
  std::optional<double> last_;
};

// Effective spread implied by the negative first-order autocovariance of price changes.
class RollMeasure {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<RollMeasure, IndicatorError> create(std::size_t period) {
    if (period < 3) return IndicatorError::invalid_period("Roll measure needs period >= 3");
    if (period > MAX_PERIOD) return IndicatorError::period_too_large();
    return RollMeasure(period);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    for (const TradePrint& t : trades) {
      if (has_prev_) changes_.push(t.price - prev_);
      prev_ = t.price;
      has_prev_ = true;
    }
    // Only the last trade's result is reported, so the O(window) estimate is computed once per
    // step rather than once per trade; the state it reads is the same.
    if (!changes_.full()) return std::nullopt;
    const std::size_t n = changes_.capacity();
    double sum = -0.0;
    changes_.for_each([&](double d) { sum += d; });
    const double mu = sum / static_cast<double>(n);
    double acc = -0.0;
    for (std::size_t i = 1; i < n; ++i) acc += (changes_[i] - mu) * (changes_[i - 1] - mu);
    const double cov = acc / static_cast<double>(n - 1);
    return cov < 0 ? 2.0 * std::sqrt(-cov) : 0.0;
  }
  std::size_t warmup_period() const { return changes_.capacity() + 1; }

 private:
  explicit RollMeasure(std::size_t period) : changes_(period) {}
  Ring<double> changes_;
  double prev_ = 0;
  bool has_prev_ = false;
};

// Volume-synchronised probability of informed trading: trades fill buckets of fixed volume V and
// the value is the mean absolute buy/sell imbalance of the last n completed buckets over V.
class Vpin {
 public:
  static constexpr InputKind kInput = InputKind::Trades;
  static Result<Vpin, IndicatorError> create(double bucket_volume, std::size_t buckets) {
    if (!(std::isfinite(bucket_volume) && bucket_volume > 0))
      return IndicatorError::invalid_parameter("VPIN bucket_volume must be finite and positive");
    if (auto s = check_window(buckets); !s) return s.error();
    return Vpin(bucket_volume, buckets);
  }
  std::optional<double> push(std::span<const TradePrint> trades) {
    if (trades.empty()) return std::nullopt;
    const double v = bucket_volume_;
    const double n = static_cast<double>(buckets_);
    for (const TradePrint& t : trades) {
      const double room = v - filled_;
      double remaining = t.size;
      // Only the newest n buckets survive, so a trade spanning more than n whole buckets is cut
      // to the part that can still be seen; this bounds the work per trade to about n + 2 buckets.
      if (std::isinf(t.size)) {
        remaining = room + n * v;
      } else if (room < t.size && (t.size - room) / v > n) {
        remaining = room + n * v + std::fmod(t.size - room, v);
      }
      // Defensive cap: with finite arithmetic the loop ends within n + 3 passes (one extra when
      // rounding leaves the open bucket a hair short); only an overflowed n * V could run on.
      std::size_t guard = 2 * buckets_ + 4;
      while (remaining > 0 && guard-- > 0) {
        const double gap = v - filled_;
        const double take = remaining < gap ? remaining : gap;
        if (t.side == Side::Buy) {
          buy_ += take;
        } else {
          sell_ += take;
        }
        filled_ += take;
        if (filled_ >= v) {
          imbalances_.push(std::fabs(buy_ - sell_));
          buy_ = sell_ = filled_ = 0.0;
        }
        remaining -= take;
      }
    }
    if (!imbalances_.full()) return std::nullopt;
    return imbalances_.sum() / (n * v);
  }
  std::size_t warmup_period() const { return 1; }

 private:
  Vpin(double bucket_volume, std::size_t buckets)
      : imbalances_(buckets), bucket_volume_(bucket_volume), buckets_(buckets) {}
  RollingSum imbalances_;
  double bucket_volume_;
  std::size_t buckets_;
  double buy_ = 0.0, sell_ = 0.0, filled_ = 0.0;
};

template <class Ind>
EvaluatorResult plain(const Params&) {
  return make_evaluator(Ind{});
}

}  // namespace

void register_microstructure(FamilyTable& t) {
  t.add("OrderBookImbalanceTop1",
        plain<OrderBookImbalanceTop1>, {});
  t.add("OrderBookImbalanceTopN",
        [](const Params& p) { return wrap(OrderBookImbalanceTopN::create(p.n(0))); }, {3});
  t.add("OrderBookImbalanceFull",
        plain<OrderBookImbalanceFull>, {});
  t.add("Microprice", plain<Microprice>, {});
  t.add("DepthSlope", plain<DepthSlope>, {});
  t.add("QuotedSpread", plain<QuotedSpread>, {});
  t.add("OrderFlowImbalance",
        [](const Params& p) { return wrap(OrderFlowImbalance::create(p.n(0))); }, {10});
  t.add("EffectiveSpread", plain<EffectiveSpread>, {});
  t.add("RealizedSpread", [](const Params& p) { return wrap(RealizedSpread::create(p.n(0))); },
        {5});
  t.add("KylesLambda", [](const Params& p) { return wrap(KylesLambda::create(p.n(0))); }, {20});
  t.add("SignedVolume", plain<SignedVolume>, {});
  t.add("CumulativeVolumeDelta",
        plain<CumulativeVolumeDelta>, {});
  t.add("TradeImbalance", [](const Params& p) { return wrap(TradeImbalance::create(p.n(0))); },
        {20});
  t.add("TradeSignAutocorrelation",
        [](const Params& p) { return wrap(TradeSignAutocorrelation::create(p.n(0))); }, {20});
  t.add("Vpin", [](const Params& p) { return wrap(Vpin::create(p.f(0), p.n(1))); }, {2.0, 10});
  t.add("Pin", [](const Params& p) { return wrap(Pin::create(p.n(0))); }, {20});
  t.add("AmihudIlliquidity",
        [](const Params& p) { return wrap(AmihudIlliquidity::create(p.n(0))); }, {20});
  t.add("RollMeasure", [](const Params& p) { return wrap(RollMeasure::create(p.n(0))); }, {20});
}

}  // namespace ostrel
