#include "feature-store-core/universe.h"

#include <string>

#include "ostrel-core/registry.h"

namespace ostrel::store {

namespace {

template <class T>
void reserve_one(std::optional<std::vector<T>>& list, bool needed) {
  if (!needed) return;
  if (!list) list.emplace();
  if (list->size() == list->capacity()) list->reserve(list->size() * 2 + 1);
}

}  // namespace

void Universe::push(std::string_view symbol, const Candle& candle, StepFeeds feeds) {
  // Every allocation happens before the first append, so running out of memory leaves the
  // universe as it was (a symbol created here is removed again).
  auto it = series_.find(symbol);
  const bool created = it == series_.end();
  if (created) it = series_.emplace(std::string(symbol), SymbolSeries{}).first;
  SymbolSeries& s = it->second;
  const SymbolSeries::Shape before = s.shape();
  try {
    if (s.candles.size() == s.candles.capacity()) s.candles.reserve(s.candles.size() * 2 + 1);
    reserve_one(s.reference, feeds.reference.has_value());
    reserve_one(s.derivs, feeds.deriv.has_value());
    reserve_one(s.books, feeds.orderbook.has_value());
    reserve_one(s.trades, feeds.trades.has_value());
    reserve_one(s.sections, feeds.cross_section.has_value());
  } catch (...) {
    if (created)
      series_.erase(it);
    else
      s.restore(before);
    throw;
  }
  // A feed list grows only on the steps that carry that feed, so a symbol whose pushes do not
  // all carry the same feeds stops being buildable; the build reports which feed drifted.
  s.candles.push_back(candle);
  if (feeds.reference) {
    const double v = *feeds.reference;
    s.reference->push_back(Candle{candle.ts, v, v, v, v, 0.0});
  }
  if (feeds.deriv) s.derivs->push_back(*feeds.deriv);
  if (feeds.orderbook) s.books->push_back(std::move(*feeds.orderbook));
  if (feeds.trades) s.trades->push_back(std::move(*feeds.trades));
  if (feeds.cross_section) s.sections->push_back(std::move(*feeds.cross_section));
}

void Universe::push_candles(std::string_view symbol, const std::vector<Candle>& candles) {
  auto it = series_.find(symbol);
  const bool created = it == series_.end();
  if (created) it = series_.emplace(std::string(symbol), SymbolSeries{}).first;
  std::vector<Candle>& c = it->second.candles;
  try {
    c.reserve(c.size() + candles.size());
  } catch (...) {
    if (created) series_.erase(it);
    throw;
  }
  c.insert(c.end(), candles.begin(), candles.end());
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
