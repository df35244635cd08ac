#pragma once
// Per-symbol market data as the store keeps it, and the checks a build runs on it before any
// evaluator sees a step.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feature-store-core/spec.h"
#include "feature-store-core/store_error.h"
#include "ostrel-core/evaluator.h"
#include "ostrel-core/records.h"
#include "ostrel-core/result.h"

namespace ostrel::store {

// The auxiliary records that may come with one pushed step; absent members add nothing.
struct StepFeeds {
  std::optional<double> reference;
  std::optional<DerivativesTick> deriv;
  std::optional<OrderBook> orderbook;
  std::optional<std::vector<TradePrint>> trades;
  std::optional<CrossSection> cross_section;
};

// One symbol's candles plus up to five feed lists that run parallel to them. An absent feed and
// a present but empty one differ: the latter still has to match the candle count.
struct SymbolSeries {
  std::vector<Candle> candles;
  std::optional<std::vector<Candle>> reference;  // only close is read
  std::optional<std::vector<DerivativesTick>> derivs;
  std::optional<std::vector<OrderBook>> books;
  std::optional<std::vector<std::vector<TradePrint>>> trades;
  std::optional<std::vector<CrossSection>> sections;

  // Which feed lists exist, so that a failed append can drop the ones it created.
  struct Shape {
    bool reference, derivs, books, trades, sections;
  };
  Shape shape() const {
    return {reference.has_value(), derivs.has_value(), books.has_value(), trades.has_value(),
            sections.has_value()};
  }
  void restore(const Shape& s) {
    if (!s.reference) reference.reset();
    if (!s.derivs) derivs.reset();
    if (!s.books) books.reset();
    if (!s.trades) trades.reset();
    if (!s.sections) sections.reset();
  }
};

// Symbols ordered by their bytes (std::string's operator< compares as unsigned chars, shorter
// prefixes first), which is the row order of every table.
class Universe {
 public:
  using Map = std::map<std::string, SymbolSeries, std::less<>>;

  void push(std::string_view symbol, const Candle& candle, StepFeeds feeds);
  void push_candles(std::string_view symbol, const std::vector<Candle>& candles);
  void clear() { series_.clear(); }

  // For decoders that assemble a whole series at once (a later duplicate replaces it).
  void insert(std::string symbol, SymbolSeries series) {
    series_.insert_or_assign(std::move(symbol), std::move(series));
  }

  bool empty() const { return series_.empty(); }
  std::size_t size() const { return series_.size(); }
  Map::const_iterator begin() const { return series_.begin(); }
  Map::const_iterator end() const { return series_.end(); }

 private:
  Map series_;
};

// Which feed a build must supply for an indicator name.
enum class FeedRequirement : std::uint8_t {
  None,
  Reference,
  Derivs,
  Books,
  Trades,
  TradesAndBooks,
  Sections
};

// Derived from the indicator's input kind in the catalogue; unknown names need nothing.
FeedRequirement feed_requirement(std::string_view name);
// The feed's name as messages write it ("trades and books" for the pair).
std::string_view feed_text(FeedRequirement r);

// The three checks of a build, per symbol, in this order.
[[nodiscard]] Status<StoreError> check_alignment(std::string_view symbol, const SymbolSeries& s);
[[nodiscard]] Status<StoreError> validate_feeds(std::string_view symbol, const SymbolSeries& s);
[[nodiscard]] Status<StoreError> check_requirements(const FeatureSpec& spec,
                                                    const SymbolSeries& s);

// The view of step i handed to every evaluator; valid while the series lives unchanged.
StepContext step_context(const SymbolSeries& s, std::size_t i);

}  // namespace ostrel::store
