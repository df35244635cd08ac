#include "market_data.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace ostrel::bench {

Market make_market(std::size_t steps, std::uint64_t seed) {
  Market m;
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  m.candles.resize(steps);
  m.reference.resize(steps);
  double price = 100.0, ref = 50.0;
  for (std::size_t i = 0; i < steps; ++i) {
    const double open = price;
    price = std::max(1.0, price * std::exp(0.01 * z(rng)));
    const double high = std::max(open, price) * (1.0 + 0.005 * u(rng));
    const double low = std::min(open, price) * (1.0 - 0.005 * u(rng));
    m.candles[i] = {static_cast<std::int64_t>(1700000000000LL + 60000LL * static_cast<long long>(i)),
                    open, high, low, price, 1000.0 + 500.0 * u(rng)};
    ref = std::max(1.0, ref * std::exp(0.008 * z(rng)));
    m.reference[i] = ref;
  }
  constexpr std::size_t kPool = 1024;
  for (std::size_t k = 0; k < kPool; ++k) {
    const double mid = 100.0 * std::exp(0.05 * z(rng)), tick = mid * 1e-4;
    OrderBook b;
    for (int l = 0; l < 10; ++l) {
      b.bids.push_back({mid - tick * (l + 1), 1 + 10 * u(rng)});
      b.asks.push_back({mid + tick * (l + 1), 1 + 10 * u(rng)});
    }
    m.books.push_back(std::move(b));
    std::vector<TradePrint> t;
    const int n = static_cast<int>(u(rng) * 8);
    for (int j = 0; j < n; ++j)
      t.push_back({mid + tick * (2 * u(rng) - 1), 0.1 + u(rng), u(rng) < 0.5 ? Side::Buy : Side::Sell, j});
    m.trades.push_back(std::move(t));
    m.derivs.push_back({0.0001 * z(rng), mid, mid, mid * 1.001, 1e6 * (1 + 0.1 * u(rng)),
                        500 + 100 * u(rng), 500 + 100 * u(rng), 300 * u(rng), 300 * u(rng),
                        10 * u(rng), 10 * u(rng), 0});
    CrossSection s;
    for (int j = 0; j < 50; ++j)
      s.members.push_back({z(rng), 100 + 100 * u(rng), u(rng) < 0.1, u(rng) < 0.1});
    m.sections.push_back(std::move(s));
  }
  m.contexts.resize(steps);
  for (std::size_t i = 0; i < steps; ++i) {
    StepContext& c = m.contexts[i];
    const std::size_t k = i % kPool;
    c.candle = &m.candles[i];
    c.reference = m.reference[i];
    c.derivatives = &m.derivs[k];
    c.book = &m.books[k];
    c.trades = m.trades[k];
    c.cross_section = &m.sections[k];
  }
  return m;
}

}  // namespace ostrel::bench
