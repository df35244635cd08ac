#pragma once
// The evaluator contract: one step in, a value or nothing out, plus named extras.
//
// Indicators are plain value types with a `push` that matches their input kind; the one adapter
// below turns any of them into an Evaluator and performs the input acceptance of that kind, so
// no indicator repeats it. A rejected step never reaches the indicator, which therefore changes
// no state on it.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "errors.h"
#include "records.h"
#include "result.h"

namespace ostrel {

// Longest window any indicator keeps (2^24).
inline constexpr std::size_t MAX_PERIOD = std::size_t{1} << 24;

enum class InputKind : std::uint8_t {
  Close,
  Candle,
  Pair,
  Derivatives,
  Book,
  Trades,
  TradesWithBook,  // trade list plus the step's book and close
  CrossSection,
};

// What one evaluator sees of one step; valid only during the update call.
struct StepContext {
  std::optional<double> reference;
  const DerivativesTick* derivatives = nullptr;
  const Candle* candle = nullptr;  // always set by the store
  std::span<const TradePrint> trades;
  const OrderBook* book = nullptr;
  const CrossSection* cross_section = nullptr;
};

class Evaluator {
 public:
  virtual ~Evaluator() = default;
  virtual std::optional<double> update(const StepContext& step) = 0;
  // Secondary outputs of the latest update that returned a value, in the order of the names the
  // registry lists for the indicator. Empty for single-output indicators.
  virtual std::span<const double> extras() const = 0;
  // Runs update over consecutive steps in one call, so the per-step virtual dispatch and the
  // optional disappear from the build's inner loop. For step j it writes the value to values[j]
  // and the extras to extras[j * n_extras + k]; a step without a value writes NaN to all of
  // them. The state afterwards is the one the same updates made one by one leave.
  virtual void update_block(std::span<const StepContext> steps, double* values, double* extras,
                            std::size_t n_extras) {
    for (std::size_t j = 0; j < steps.size(); ++j) {
      const std::optional<double> v = update(steps[j]);
      publish(v, v ? this->extras() : std::span<const double>(), values + j,
              extras + j * n_extras, n_extras);
    }
  }
  virtual std::size_t warmup_period() const = 0;
  virtual InputKind input_kind() const = 0;

 protected:
  // Writes one step of update_block's output: the value and the first n_extras extras, NaN for
  // whatever the step did not produce.
  static void publish(const std::optional<double>& v, std::span<const double> e, double* value,
                      double* ex, std::size_t n_extras) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    *value = v ? *v : kNaN;
    for (std::size_t k = 0; k < n_extras; ++k) ex[k] = v && k < e.size() ? e[k] : kNaN;
  }
};

using EvaluatorPtr = std::unique_ptr<Evaluator>;

// Construction checks shared by every windowed indicator.
[[nodiscard]] inline Status<IndicatorError> check_period(std::size_t n) {
  if (n == 0) return IndicatorError::zero_period();
  if (n > MAX_PERIOD) return IndicatorError::period_too_large();
  return Ok{};
}

namespace detail {

template <class Ind>
concept HasExtras = requires(const Ind& i) {
  { i.extras() } -> std::convertible_to<std::span<const double>>;
};

template <class Ind>
class Adapter final : public Evaluator {
 public:
  explicit Adapter(Ind&& ind) : ind_(std::move(ind)) {}

  std::optional<double> update(const StepContext& s) override { return step(s); }

  void update_block(std::span<const StepContext> steps, double* values, double* extras,
                    std::size_t n_extras) override {
    for (std::size_t j = 0; j < steps.size(); ++j) {
      const std::optional<double> v = step(steps[j]);
      publish(v, v ? own_extras() : std::span<const double>(), values + j,
              extras + j * n_extras, n_extras);
    }
  }

  std::span<const double> extras() const override { return own_extras(); }

  std::size_t warmup_period() const override { return ind_.warmup_period(); }
  InputKind input_kind() const override { return Ind::kInput; }

 private:
  std::span<const double> own_extras() const {
    if constexpr (HasExtras<Ind>) {
      return ind_.extras();
    } else {
      return {};
    }
  }

  // Input acceptance of the kind, then the indicator; non-virtual so the block loop inlines it.
  std::optional<double> step(const StepContext& s) {
    constexpr InputKind k = Ind::kInput;
    if constexpr (k == InputKind::Close) {
      const double c = s.candle->close;
      if (!std::isfinite(c)) return std::nullopt;
      return ind_.push(c);
    } else if constexpr (k == InputKind::Candle) {
      if (!check_candle(*s.candle)) return std::nullopt;
      return ind_.push(*s.candle);
    } else if constexpr (k == InputKind::Pair) {
      if (!s.reference || !std::isfinite(*s.reference) || !std::isfinite(s.candle->close))
        return std::nullopt;
      return ind_.push(*s.reference, s.candle->close);
    } else if constexpr (k == InputKind::Derivatives) {
      if (s.derivatives == nullptr) return std::nullopt;
      return ind_.push(*s.derivatives);
    } else if constexpr (k == InputKind::Book) {
      if (s.book == nullptr) return std::nullopt;
      return ind_.push(*s.book);
    } else if constexpr (k == InputKind::Trades) {
      return ind_.push(s.trades);
    } else if constexpr (k == InputKind::TradesWithBook) {
      return ind_.push(s);
    } else {
      static_assert(k == InputKind::CrossSection);
      if (s.cross_section == nullptr) return std::nullopt;
      return ind_.push(*s.cross_section);
    }
  }

  Ind ind_;
};

}  // namespace detail

// Wraps an indicator value into a heap evaluator.
template <class Ind>
[[nodiscard]] EvaluatorPtr make_evaluator(Ind ind) {
  return std::make_unique<detail::Adapter<Ind>>(std::move(ind));
}

using EvaluatorResult = Result<EvaluatorPtr, IndicatorError>;

// Turns a factory's Result<Ind> into an evaluator or its construction error.
template <class Ind>
[[nodiscard]] EvaluatorResult wrap(Result<Ind, IndicatorError> r) {
  if (!r) return std::move(r).error();
  return make_evaluator(std::move(r).value());
}

}  // namespace ostrel
