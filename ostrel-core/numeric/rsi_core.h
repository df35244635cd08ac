#pragma once
// Wilder relative strength of a series: the share of average gains in the average absolute
// change, on a 0..100 scale. Shared by every oscillator that smooths gains and losses this way.
//
// The seed averages are plain means of the first n gains and losses, summed from -0.0 in arrival
// order; accumulating that sum as the values arrive gives the same bits as summing a stored
// list, so the warm-up needs no storage at all. Afterwards the averages follow the fused Wilder
// form fma(avg, n - 1, x) * (1 / n), with both constants fixed at construction.

#include <cmath>
#include <cstddef>
#include <optional>

#include "../evaluator.h"

namespace ostrel::numeric {

class RsiCore {
 public:
  [[nodiscard]] static Result<RsiCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return RsiCore(period);
  }

  // x must be finite; callers skip non-finite values before they get here.
  std::optional<double> push(double x) {
    if (!has_prev_) {
      prev_ = x;
      has_prev_ = true;
      return std::nullopt;
    }
    const double diff = x - prev_;
    prev_ = x;
    const double gain = diff > 0 ? diff : 0.0;
    const double loss = diff < -diff ? -diff : 0.0;
    if (seen_ < period_) {
      gain_ += gain;
      loss_ += loss;
      if (++seen_ < period_) return std::nullopt;
      const double n = static_cast<double>(period_);
      gain_ = gain_ / n;
      loss_ = loss_ / n;
    } else {
      gain_ = std::fma(gain_, n_minus_one_, gain) * inv_n_;
      loss_ = std::fma(loss_, n_minus_one_, loss) * inv_n_;
    }
    return value();
  }

  bool ready() const { return seen_ == period_; }
  std::size_t period() const { return period_; }
  // Accepted inputs up to and including the first value.
  std::size_t warmup_period() const { return period_ + 1; }

 private:
  explicit RsiCore(std::size_t period)
      : period_(period),
        n_minus_one_(static_cast<double>(period) - 1.0),
        inv_n_(1.0 / static_cast<double>(period)) {}

  double value() const {
    const double total = loss_ + gain_;
    if (total == 0) return 50.0;
    return (gain_ * 100.0) / total;
  }

  std::size_t period_;
  double n_minus_one_;
  double inv_n_;
  double prev_ = 0.0;
  bool has_prev_ = false;
  std::size_t seen_ = 0;  // changes consumed by the seed, up to period_
  // Seed sums during warm-up, the Wilder averages afterwards.
  double gain_ = -0.0;
  double loss_ = -0.0;
};

}  // namespace ostrel::numeric
