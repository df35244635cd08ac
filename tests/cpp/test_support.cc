#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace ostrel::testing {

std::vector<Step> random_walk(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Step> out(n);
  double price = 100.0, ref = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    Step& s = out[i];
    const double open = price;
    price = std::max(1.0, price * std::exp(0.01 * z(rng)));
    const double close = price;
    const double high = std::max(open, close) * (1.0 + 0.005 * u(rng));
    const double low = std::min(open, close) * (1.0 - 0.005 * u(rng));
    const auto ts = static_cast<std::int64_t>(1700000000000LL + 60000LL * static_cast<long long>(i));
    s.candle = {ts, open, high, low, close, 1000.0 + 500.0 * u(rng)};
    ref = std::max(1.0, ref * std::exp(0.008 * z(rng) + 0.5 * (std::log(close) - std::log(open))));
    s.reference = ref;
    s.deriv = {0.0001 * z(rng), close * (1 + 0.0002 * z(rng)), close, close * (1.001 + 0.001 * u(rng)),
               1e6 * (1 + 0.1 * u(rng)), 500 + 100 * u(rng), 500 + 100 * u(rng), 300 * u(rng),
               300 * u(rng), 10 * u(rng), 10 * u(rng), ts};
    const double mid = close, tick = close * 1e-4;
    for (int k = 0; k < 5; ++k) {
      s.book.bids.push_back({mid - tick * (k + 1), 1 + 10 * u(rng)});
      s.book.asks.push_back({mid + tick * (k + 1), 1 + 10 * u(rng)});
    }
    const int ntr = static_cast<int>(u(rng) * 6);
    for (int k = 0; k < ntr; ++k)
      s.trades.push_back({mid + tick * (u(rng) * 2 - 1), 0.1 + u(rng),
                          u(rng) < 0.5 ? Side::Buy : Side::Sell, ts + k});
    for (int k = 0; k < 20; ++k)
      s.section.members.push_back({z(rng), 100 + 100 * u(rng), u(rng) < 0.1, u(rng) < 0.1});
    s.section.timestamp = ts;
  }
  return out;
}

StepContext full_context(const Step& s) {
  StepContext c;
  c.reference = s.reference;
  c.derivatives = &s.deriv;
  c.candle = &s.candle;
  c.trades = s.trades;
  c.book = &s.book;
  c.cross_section = &s.section;
  return c;
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

bool same(const Output& a, const Output& b) {
  if (a.value.has_value() != b.value.has_value()) return false;
  if (!a.value) return true;
  if (!same_bits(*a.value, *b.value) || a.extras.size() != b.extras.size()) return false;
  for (std::size_t i = 0; i < a.extras.size(); ++i)
    if (!same_bits(a.extras[i], b.extras[i])) return false;
  return true;
}

Output step(Evaluator& ev, const StepContext& ctx) {
  Output o;
  o.value = ev.update(ctx);
  if (o.value) {
    auto x = ev.extras();
    o.extras.assign(x.begin(), x.end());
  }
  return o;
}

std::vector<Output> replay(Evaluator& ev, const std::vector<Step>& steps) {
  std::vector<Output> out;
  out.reserve(steps.size());
  for (const auto& s : steps) out.push_back(step(ev, full_context(s)));
  return out;
}

}  // namespace ostrel::testing
