#pragma once
// The engine's two error types. Display texts are data: one table per type (errors.cc).

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// Errors raised by indicator construction and record validation.
class IndicatorError {
 public:
  enum class Kind : std::uint8_t {
    ZeroPeriod,
    InvalidPeriod,
    NonFiniteInput,
    InvalidCandle,
    InvalidTick,
    ZeroMultiplier,
    InvalidOrderBook,
    InvalidTrade,
    InvalidDerivativesTick,
    InvalidCrossSection,
    InvalidParameter,
  };
  static constexpr int kKindCount = 11;

  IndicatorError(Kind kind, std::string message = {}) : kind_(kind), message_(std::move(message)) {}

  static IndicatorError zero_period() { return {Kind::ZeroPeriod}; }
  static IndicatorError zero_multiplier() { return {Kind::ZeroMultiplier}; }
  static IndicatorError non_finite_input() { return {Kind::NonFiniteInput}; }
  static IndicatorError invalid_period(std::string m) { return {Kind::InvalidPeriod, std::move(m)}; }
  static IndicatorError invalid_parameter(std::string m) {
    return {Kind::InvalidParameter, std::move(m)};
  }
  // "period exceeds the maximum supported window length (see MAX_PERIOD)"
  static IndicatorError period_too_large();

  Kind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  std::string display() const;

 private:
  Kind kind_;
  std::string message_;
};

// Errors that leave the engine towards the store.
class EngineError {
 public:
  enum class Kind : std::uint8_t {
    InvalidStrategySpec,
    UnknownIndicatorType,
    InvalidParameters,
    UndeclaredIndicator,
    InvalidInput,
  };
  static constexpr int kKindCount = 5;

  EngineError(Kind kind, std::string first, std::string second = {})
      : kind_(kind), first_(std::move(first)), second_(std::move(second)) {}

  static EngineError unknown_indicator_type(std::string_view name) {
    return {Kind::UnknownIndicatorType, std::string(name)};
  }
  static EngineError invalid_parameters(std::string_view name, std::string text) {
    return {Kind::InvalidParameters, std::string(name), std::move(text)};
  }
  static EngineError invalid_input(const IndicatorError& e) {
    return {Kind::InvalidInput, e.display()};
  }

  Kind kind() const { return kind_; }
  std::string display() const;

 private:
  Kind kind_;
  std::string first_;
  std::string second_;
};

}  // namespace ostrel
