#pragma once
// A deterministic in-memory market for the benchmarks: a random walk of valid candles with a
// reference price, and auxiliary records (books, trades, derivatives, cross-sections) drawn from a
// small pool so a million steps stay cheap to hold.

#include <cstdint>
#include <vector>

#include "ostrel-core/evaluator.h"
#include "ostrel-core/records.h"

namespace ostrel::bench {

struct Market {
  std::vector<Candle> candles;
  std::vector<double> reference;
  std::vector<DerivativesTick> derivs;       // pool
  std::vector<OrderBook> books;              // pool
  std::vector<std::vector<TradePrint>> trades;  // pool
  std::vector<CrossSection> sections;        // pool
  std::vector<StepContext> contexts;         // one per candle, every feed present
};

Market make_market(std::size_t steps, std::uint64_t seed = 7);

}  // namespace ostrel::bench
