#include "feature-store-core/universe.h"

#include <string>

#include "ostrel-core/registry.h"

namespace ostrel::store {

SymbolSeries& Universe::series_for(std::string_view symbol) {
  auto it = series_.find(symbol);
  if (it == series_.end()) it = series_.emplace(std::string(symbol), SymbolSeries{}).first;
  return it->second;
}

void Universe::push(std::string_view symbol, const Candle& candle, StepFeeds feeds) {
  SymbolSeries& s = series_for(symbol);
  s.candles.push_back(candle);
  // A feed list grows only on the steps that carry that feed, so a symbol whose pushes do not
  // all carry the same feeds stops being buildable; the build reports which feed drifted.
  if (feeds.reference) {
    const double v = *feeds.reference;
    if (!s.reference) s.reference.emplace();
    s.reference->push_back(Candle{candle.ts, v, v, v, v, 0.0});
  }
  if (feeds.deriv) {
    if (!s.derivs) s.derivs.emplace();
    s.derivs->push_back(std::move(*feeds.deriv));
  }
  if (feeds.orderbook) {
    if (!s.books) s.books.emplace();
    s.books->push_back(std::move(*feeds.orderbook));
  }
  if (feeds.trades) {
    if (!s.trades) s.trades.emplace();
    s.trades->push_back(std::move(*feeds.trades));
  }
  if (feeds.cross_section) {
    if (!s.sections) s.sections.emplace();
    s.sections->push_back(std::move(*feeds.cross_section));
  }
}

void Universe::push_candles(std::string_view symbol, const std::vector<Candle>& candles) {
  SymbolSeries& s = series_for(symbol);
  s.candles.insert(s.candles.end(), candles.begin(), candles.end());
}

FeedRequirement feed_requirement(std::string_view name) {
  const NameInfo* row = Registry::instance().info(name);
  if (row == nullptr) return FeedRequirement::None;
  switch (row->input) {
    case InputKind::Pair: return FeedRequirement::Reference;
    case InputKind::Derivatives: return FeedRequirement::Derivs;
    case InputKind::Book: return FeedRequirement::Books;
    case InputKind::Trades: return FeedRequirement::Trades;
    case InputKind::TradesWithBook: return FeedRequirement::TradesAndBooks;
    case InputKind::CrossSection: return FeedRequirement::Sections;
    case InputKind::Close:
    case InputKind::Candle: return FeedRequirement::None;
  }
  return FeedRequirement::None;
}

std::string_view feed_text(FeedRequirement r) {
  switch (r) {
    case FeedRequirement::None: return "";
    case FeedRequirement::Reference: return "reference";
    case FeedRequirement::Derivs: return "derivs";
    case FeedRequirement::Books: return "books";
    case FeedRequirement::Trades: return "trades";
    case FeedRequirement::TradesAndBooks: return "trades and books";
    case FeedRequirement::Sections: return "sections";
  }
  return "";
}

namespace {

template <class List>
Status<StoreError> check_length(std::string_view symbol, const char* feed,
                                const std::optional<List>& list, std::size_t n) {
  if (!list || list->size() == n) return Ok{};
  std::string t(symbol);
  t += ": ";
  t += feed;
  t += " feed length ";
  t += std::to_string(list->size());
  t += " does not match ";
  t += std::to_string(n);
  t += " candles";
  return StoreError::data(std::move(t));
}

StoreError malformed(std::string_view symbol, const IndicatorError& e) {
  std::string t(symbol);
  t += ": malformed feed entry: ";
  t += EngineError::invalid_input(e).display();
  return StoreError::data(std::move(t));
}

}  // namespace

Status<StoreError> check_alignment(std::string_view symbol, const SymbolSeries& s) {
  const std::size_t n = s.candles.size();
  if (auto r = check_length(symbol, "reference", s.reference, n); !r) return r;
  if (auto r = check_length(symbol, "derivs", s.derivs, n); !r) return r;
  if (auto r = check_length(symbol, "books", s.books, n); !r) return r;
  if (auto r = check_length(symbol, "trades", s.trades, n); !r) return r;
  return check_length(symbol, "sections", s.sections, n);
}

Status<StoreError> validate_feeds(std::string_view symbol, const SymbolSeries& s) {
  if (s.derivs)
    for (const auto& d : *s.derivs)
      if (auto r = check_derivatives_tick(d); !r) return malformed(symbol, r.error());
  if (s.books) {
    for (const auto& b : *s.books) {
      // Levels first, bids then asks, so a bad level is reported even on an empty side.
      for (const auto& l : b.bids)
        if (auto r = check_level(l); !r) return malformed(symbol, r.error());
      for (const auto& l : b.asks)
        if (auto r = check_level(l); !r) return malformed(symbol, r.error());
      if (auto r = check_order_book(b); !r) return malformed(symbol, r.error());
    }
  }
  if (s.trades)
    for (const auto& step : *s.trades)
      for (const auto& t : step)
        if (auto r = check_trade(t); !r) return malformed(symbol, r.error());
  if (s.sections)
    for (const auto& c : *s.sections)
      if (auto r = check_cross_section(c); !r) return malformed(symbol, r.error());
  return Ok{};
}

Status<StoreError> check_requirements(const FeatureSpec& spec, const SymbolSeries& s) {
  for (const auto& f : spec.features) {
    if (f.kind == Feature::Kind::Price) continue;
    const FeedRequirement r = feed_requirement(f.name);
    bool ok = true;
    switch (r) {
      case FeedRequirement::None: break;
      case FeedRequirement::Reference: ok = s.reference.has_value(); break;
      case FeedRequirement::Derivs: ok = s.derivs.has_value(); break;
      case FeedRequirement::Books: ok = s.books.has_value(); break;
      case FeedRequirement::Trades: ok = s.trades.has_value(); break;
      case FeedRequirement::TradesAndBooks: ok = s.trades && s.books; break;
      case FeedRequirement::Sections: ok = s.sections.has_value(); break;
    }
    if (!ok) return StoreError::missing_feed(f.name, std::string(feed_text(r)));
  }
  return Ok{};
}

StepContext step_context(const SymbolSeries& s, std::size_t i) {
  StepContext c;
  c.candle = &s.candles[i];
  if (s.reference) c.reference = (*s.reference)[i].close;
  if (s.derivs) c.derivatives = &(*s.derivs)[i];
  if (s.books) c.book = &(*s.books)[i];
  if (s.trades) c.trades = (*s.trades)[i];
  if (s.sections) c.cross_section = &(*s.sections)[i];
  return c;
}

}  // namespace ostrel::store
