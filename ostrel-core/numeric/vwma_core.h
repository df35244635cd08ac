#pragma once
// Volume-weighted average of the last `period` closes, falling back to the plain mean of the
// closes when the window traded no volume. The three running sums are re-summed exactly from the
// window every `period` updates to bound the drift of the incremental sums.

#include <cstddef>
#include <optional>

#include "../evaluator.h"
#include "ring.h"

namespace ostrel::numeric {

class VwmaCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit VwmaCore(std::size_t period) : window_(period), period_(period) {}

  [[nodiscard]] static Result<VwmaCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return VwmaCore(period);
  }

  std::optional<double> push(double close, double volume) {
    const Pair in{close, volume};
    if (window_.full()) {
      Pair out;
      window_.push(in, &out);
      price_volume_ = (price_volume_ - out.close * out.volume) + close * volume;
      volume_ = (volume_ - out.volume) + volume;
      close_ = (close_ - out.close) + close;
    } else {
      window_.push(in);
      price_volume_ = price_volume_ + close * volume;
      volume_ = volume_ + volume;
      close_ = close_ + close;
    }
    if (++updates_ == period_) {
      double pv = -0.0, v = -0.0, c = -0.0;
      window_.for_each([&](const Pair& p) {
        pv = pv + p.close * p.volume;
        v = v + p.volume;
        c = c + p.close;
      });
      price_volume_ = pv;
      volume_ = v;
      close_ = c;
      updates_ = 0;
    }
    if (!window_.full()) return std::nullopt;
    if (volume_ > 0.0) return price_volume_ / volume_;
    return close_ / static_cast<double>(period_);
  }

  std::size_t period() const { return period_; }

 private:
  struct Pair {
    double close = 0.0;
    double volume = 0.0;
  };
  Ring<Pair> window_;
  std::size_t period_;
  double price_volume_ = 0.0;
  double volume_ = 0.0;
  double close_ = 0.0;
  std::size_t updates_ = 0;
};

}  // namespace ostrel::numeric
