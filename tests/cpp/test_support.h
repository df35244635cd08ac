#pragma once
// Deterministic market data for the engine tests: a random walk of valid candles with every
// auxiliary feed filled, so any indicator of any input kind can be replayed.

#include <cstdint>
#include <optional>
#include <vector>

#include "ostrel-core/evaluator.h"
#include "ostrel-core/records.h"

namespace ostrel::testing {

struct Step {
  Candle candle;
  double reference = 0;
  DerivativesTick deriv;
  OrderBook book;
  std::vector<TradePrint> trades;
  CrossSection section;
};

// n steps from a fixed seed; prices stay positive, every record is valid.
std::vector<Step> random_walk(std::size_t n, std::uint64_t seed = 42);

// A context over one step with every feed present.
StepContext full_context(const Step& s);

// One step's output of an evaluator: the value, and the extras when there is a value.
struct Output {
  std::optional<double> value;
  std::vector<double> extras;
};

// Equal to the bit, any NaN equal to any NaN.
bool same_bits(double a, double b);

// Same presence, and the value and every extra the same to the bit.
bool same(const Output& a, const Output& b);

// Feeds one step to the evaluator and reads what it answers.
Output step(Evaluator& ev, const StepContext& ctx);

// Feeds every step in order, each with all its feeds present.
std::vector<Output> replay(Evaluator& ev, const std::vector<Step>& steps);

// The outputs of an evaluator replayed over the steps (NaN for no value), main value then extras.
struct Trace {
  std::vector<std::optional<double>> values;
  std::vector<std::vector<double>> extras;
};

}  // namespace ostrel::testing
