#pragma once
// Chande momentum recurrence: ((ups - downs) * 100) / (ups + downs) over the last `period`
// close-to-close changes. The running sums are only ever updated (never re-summed), so the
// result depends on the exact order of removal and addition below.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

#include "../evaluator.h"
#include "ring.h"

namespace ostrel::numeric {

class CmoCore {
 public:
  // Precondition: period >= 1 (use create() where the period is not yet checked).
  explicit CmoCore(std::size_t period) : moves_(period), period_(period) {}

  [[nodiscard]] static Result<CmoCore, IndicatorError> create(std::size_t period) {
    if (auto s = check_period(period); !s) return s.error();
    return CmoCore(period);
  }

  std::optional<double> push(double x) {
    if (!has_prev_) {  // the first value only provides the reference for the first change
      prev_ = x;
      has_prev_ = true;
      return std::nullopt;
    }
    const double diff = x - prev_;
    prev_ = x;
    const double up = std::max(diff, 0.0);
    const double down = std::max(-diff, 0.0);
    if (moves_.full()) {
      const auto& [old_up, old_down] = moves_.oldest();
      up_sum_ = up_sum_ - old_up;
      down_sum_ = down_sum_ - old_down;
    }
    moves_.push({up, down});
    up_sum_ = up_sum_ + up;
    down_sum_ = down_sum_ + down;
    if (!moves_.full()) return std::nullopt;
    const double total = up_sum_ + down_sum_;
    return total != 0.0 ? ((up_sum_ - down_sum_) * 100.0) / total : 0.0;
  }

  std::size_t period() const { return period_; }
  // Accepted inputs up to and including the first value.
  std::size_t warmup_period() const { return period_ + 1; }

 private:
  Ring<std::pair<double, double>> moves_;
  std::size_t period_;
  double prev_ = 0.0;
  bool has_prev_ = false;
  double up_sum_ = 0.0;
  double down_sum_ = 0.0;
};

}  // namespace ostrel::numeric
