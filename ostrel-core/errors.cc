#include "errors.h"

#include <array>

namespace ostrel {
namespace {

// "{}" marks where the payload goes.
constexpr std::array<std::string_view, IndicatorError::kKindCount> kIndicatorTexts = {
    "period must be greater than zero",
    "invalid period: {}",
    "input value must be finite (got NaN or infinity)",
    "invalid candle: {}",
    "invalid tick: {}",
    "multiplier must be greater than zero",
    "invalid order book: {}",
    "invalid trade: {}",
    "invalid derivatives tick: {}",
    "invalid cross-section: {}",
    "invalid parameter: {}",
};

constexpr std::array<std::string_view, EngineError::kKindCount> kEngineTexts = {
    "invalid strategy spec: {}",
    "unknown indicator type: {}",
    "invalid parameters for indicator {}: {}",
    "rule references undeclared indicator: {}",
    "invalid input data: {}",
};

// Replaces successive "{}" in the template with the given payloads.
std::string fill(std::string_view tmpl, std::string_view a, std::string_view b = {}) {
  std::string out;
  out.reserve(tmpl.size() + a.size() + b.size());
  int used = 0;
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '{' && i + 1 < tmpl.size() && tmpl[i + 1] == '}') {
      out += used++ == 0 ? a : b;
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  return out;
}

}  // namespace

IndicatorError IndicatorError::period_too_large() {
  return invalid_period("period exceeds the maximum supported window length (see MAX_PERIOD)");
}

std::string IndicatorError::display() const {
  return fill(kIndicatorTexts[static_cast<int>(kind_)], message_);
}

std::string EngineError::display() const {
  return fill(kEngineTexts[static_cast<int>(kind_)], first_, second_);
}

}  // namespace ostrel
