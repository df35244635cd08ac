#include "feature-store-core/build.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "feature-store-core/labels.h"
#include "feature-store-core/scaling.h"
#include "ostrel-core/registry.h"

namespace ostrel::store {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Where a feature's cell comes from, resolved once per build instead of looking up text keys
// on every step.
struct Output {
  enum class From : std::uint8_t { Price, Value, Extra, Nothing };
  From from = From::Nothing;
  std::uint32_t slot = 0;   // evaluator slot for Value and Extra
  std::uint32_t extra = 0;  // position in the evaluator's extras for Extra
  PriceField field = PriceField::Close;
};

struct Slot {
  const Feature* feature;              // first feature with this key: it builds the evaluator
  std::vector<std::uint32_t> outputs;  // features that read this evaluator's value or extras
};

struct Plan {
  std::vector<Slot> slots;  // one per distinct key, in order of first appearance
  std::vector<Output> outputs;  // one per feature
  std::vector<EvaluatorPtr> trial;  // evaluators of the trial construction, still fresh
};

StoreError construction_error(const Feature& f, const EngineError& e) {
  std::string t = f.name;
  t += ": ";
  t += e.display();
  return StoreError::unknown_indicator(std::move(t));
}

// Constructs every distinct key once (the trial construction, with its errors) and resolves
// every feature.
Result<Plan, StoreError> make_plan(const FeatureSpec& spec) {
  Plan plan;
  const Registry& registry = Registry::instance();
  std::vector<std::string_view> keys;
  for (const Feature& f : spec.features) {
    Output out;
    if (f.kind == Feature::Kind::Price) {
      out.from = Output::From::Price;
      out.field = f.price_field;
      plan.outputs.push_back(out);
      continue;
    }
    auto it = std::find(keys.begin(), keys.end(), std::string_view(f.key));
    if (it == keys.end()) {
      auto ev = registry.build(f.name, f.params);
      if (!ev) return construction_error(f, ev.error());
      keys.push_back(f.key);
      plan.slots.push_back({&f, {}});
      plan.trial.push_back(std::move(ev).value());
      it = keys.end() - 1;
    }
    out.slot = static_cast<std::uint32_t>(it - keys.begin());
    if (f.kind == Feature::Kind::Indicator && f.field) {
      // The extras the evaluator publishes follow the catalogue's names; a name it does not
      // publish is never present, so the column stays missing.
      out.from = Output::From::Nothing;
      const Feature& owner = *plan.slots[out.slot].feature;
      if (const NameInfo* row = registry.canonical(owner.name)) {
        for (std::size_t k = 0; k < row->extras.size(); ++k) {
          if (row->extras[k] == *f.field) {  // the last equal name would win; names are unique
            out.from = Output::From::Extra;
            out.extra = static_cast<std::uint32_t>(k);
          }
        }
      }
    } else {
      out.from = Output::From::Value;
    }
    if (out.from != Output::From::Nothing)
      plan.slots[out.slot].outputs.push_back(static_cast<std::uint32_t>(plan.outputs.size()));
    plan.outputs.push_back(out);
  }
  return plan;
}

double price_of(const Candle& c, PriceField f) {
  switch (f) {
    case PriceField::Open: return c.open;
    case PriceField::High: return c.high;
    case PriceField::Low: return c.low;
    case PriceField::Close: return c.close;
    case PriceField::Volume: return c.volume;
  }
  return kNaN;
}

std::size_t clamp_window(std::uint64_t w) {
  // Beyond any row count that fits in memory a window keeps everything.
  constexpr std::uint64_t kMax = std::uint64_t{1} << 40;
  return static_cast<std::size_t>(std::min(w, kMax));
}

// Keeps only the last `window` rows of the symbol that starts at `first_row`.
void drop_oldest(FeatureTable& table, std::size_t first_row, std::vector<std::size_t>& kept,
                 std::size_t window) {
  const std::size_t width = table.columns.size();
  const std::size_t drop = kept.size() - window;
  auto begin = table.cells.begin() + static_cast<std::ptrdiff_t>(first_row * width);
  table.cells.erase(begin, begin + static_cast<std::ptrdiff_t>(drop * width));
  kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(drop));
  table.rows -= drop;
}

constexpr std::size_t kBlock = 256;

// Buffers of one block of steps, allocated once per build.
struct Scratch {
  std::vector<double> block;  // block[f * kBlock + j]: feature f at step j of the block
  std::vector<StepContext> contexts;
};

// Replays one symbol and appends its kept rows (labels included) to the table.
void replay_symbol(const Plan& plan, std::vector<EvaluatorPtr>& evs, const FeatureSpec& spec,
                   std::uint32_t symbol_pos, const SymbolSeries& series, FeatureTable& table,
                   Scratch& scratch) {
  const std::size_t nslots = evs.size();
  const std::size_t nfeat = plan.outputs.size();
  const std::size_t width = table.columns.size();
  const std::size_t n = series.candles.size();
  const bool skip = spec.warmup == WarmupPolicy::Skip;

  std::vector<std::size_t> kept;  // step index of each appended row
  const std::size_t window = spec.window ? clamp_window(*spec.window) : 0;
  const std::size_t first_row = table.rows;

  // Evaluators are independent of one another, so each runs over a block of steps on its own
  // (its state stays in cache) before the block's rows are assembled. Every evaluator still sees
  // every step in order and has its extras read right after each value it returns.
  std::vector<double>& block = scratch.block;
  std::vector<StepContext>& contexts = scratch.contexts;
  if (n > 0 && block.empty()) {
    block.resize(nfeat * kBlock);
    contexts.resize(kBlock);
  }
  // Room for every row this symbol can keep at once, so the rows are never moved while growing.
  const std::size_t most_rows = window != 0 ? std::min(n, 2 * window) : n;
  table.cells.reserve(table.cells.size() + most_rows * width);
  kept.reserve(most_rows);

  // Per evaluator, once: whether anything reads its extras, and its outputs split into those
  // taking the value and those taking an extra, so the step loop does no per-output dispatch.
  struct SlotRoute {
    std::vector<std::uint32_t> values;                             // features taking the value
    std::vector<std::pair<std::uint32_t, std::uint32_t>> extras;  // (feature, extra index)
    std::size_t extras_read = 0;  // one past the highest extra index any column reads
  };
  std::vector<SlotRoute> routes(nslots);
  std::size_t most_extras = 0;
  for (std::size_t s = 0; s < nslots; ++s) {
    for (std::uint32_t f : plan.slots[s].outputs) {
      const Output& o = plan.outputs[f];
      if (o.from == Output::From::Extra) {
        routes[s].extras.emplace_back(f, o.extra);
        routes[s].extras_read = std::max<std::size_t>(routes[s].extras_read, o.extra + 1);
        most_extras = std::max(most_extras, routes[s].extras_read);
      } else
        routes[s].values.push_back(f);
    }
  }
  // Where evaluators that feed several columns or extras leave one block's outputs.
  std::vector<double> values(kBlock), extras(kBlock * most_extras);
  std::vector<std::uint32_t> prices;  // features copying a raw candle field
  for (std::size_t f = 0; f < nfeat; ++f) {
    if (plan.outputs[f].from == Output::From::Price) prices.push_back(static_cast<std::uint32_t>(f));
    // Nothing ever writes a missing column's cells in the block: they stay NaN.
    if (plan.outputs[f].from == Output::From::Nothing && !block.empty())
      std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(f * kBlock), kBlock, kNaN);
  }

  for (std::size_t b0 = 0; b0 < n; b0 += kBlock) {
    const std::size_t len = std::min(kBlock, n - b0);
    for (std::size_t j = 0; j < len; ++j) contexts[j] = step_context(series, b0 + j);
    for (std::uint32_t f : prices) {
      const PriceField field = plan.outputs[f].field;
      double* col = block.data() + f * kBlock;
      for (std::size_t j = 0; j < len; ++j) col[j] = price_of(series.candles[b0 + j], field);
    }
    for (std::size_t s = 0; s < nslots; ++s) {
      Evaluator& ev = *evs[s];
      const SlotRoute& route = routes[s];
      const std::span<const StepContext> steps(contexts.data(), len);
      if (route.extras.empty() && route.values.size() == 1) {
        // The usual case: one column takes the value, written by the evaluator's own loop.
        ev.update_block(steps, block.data() + route.values[0] * kBlock, nullptr, 0);
        continue;
      }
      // A step without a value publishes NaN for the value and every extra: earlier values and
      // extras are not carried over.
      const std::size_t nx = route.extras_read;
      ev.update_block(steps, values.data(), extras.data(), nx);
      for (std::uint32_t f : route.values) std::copy_n(values.data(), len, block.data() + f * kBlock);
      for (const auto& e : route.extras) {
        double* col = block.data() + e.first * kBlock;
        for (std::size_t k = 0; k < len; ++k) col[k] = extras[k * nx + e.second];
      }
    }
    for (std::size_t j = 0; j < len; ++j) {
      const std::size_t i = b0 + j;
      const std::size_t at = table.cells.size();
      // Label cells are written once the symbol's rows are final.
      table.cells.resize(at + width);
      double* row = table.cells.data() + at;
      bool missing = false;
      const double* src = block.data() + j;
      for (std::size_t f = 0; f < nfeat; ++f) {
        const double x = src[f * kBlock];
        row[f] = x;
        missing |= std::isnan(x);  // infinite values count as present
      }
      if (skip && missing) {
        table.cells.resize(at);
        continue;
      }
      kept.push_back(i);
      ++table.rows;
      // With a window, rows that can no longer be among the last `window` are dropped in
      // batches, so a symbol never holds more than twice its window.
      if (window != 0 && kept.size() >= 2 * window) drop_oldest(table, first_row, kept, window);
    }
  }
  if (window != 0 && kept.size() > window) drop_oldest(table, first_row, kept, window);

  // Labels look ahead at later candles whether or not their rows survived.
  const std::span<const Candle> candles(series.candles);
  for (std::size_t r = 0; r < kept.size(); ++r) {
    double* row = table.cells.data() + (first_row + r) * width;
    for (std::size_t l = 0; l < spec.labels.size(); ++l)
      row[nfeat + l] = label_value(candles, kept[r], spec.labels[l]);
    table.index.push_back({symbol_pos, series.candles[kept[r]].ts});
  }
}

}  // namespace

Result<FeatureTable, StoreError> build_table(const Universe& universe, const FeatureSpec& spec) {
  if (auto v = validate(spec); !v) return std::move(v).error();
  auto plan_r = make_plan(spec);
  if (!plan_r) return std::move(plan_r).error();
  Plan& plan = *plan_r;

  for (const auto& [symbol, series] : universe) {
    if (auto r = check_alignment(symbol, series); !r) return std::move(r).error();
    if (auto r = validate_feeds(symbol, series); !r) return std::move(r).error();
    if (auto r = check_requirements(spec, series); !r) return std::move(r).error();
  }

  FeatureTable table;
  table.columns.reserve(spec.features.size() + spec.labels.size());
  for (const Feature& f : spec.features) table.columns.push_back(f.column);
  for (const Label& l : spec.labels) table.columns.push_back(l.column);

  // One allocation for every row the table can hold: no growth copies of the largest block.
  {
    const std::size_t window = spec.window ? clamp_window(*spec.window) : 0;
    std::size_t bound = 0, largest = 0;
    for (const auto& [symbol, series] : universe) {
      const std::size_t n = series.candles.size();
      bound += window ? std::min(n, window) : n;
      largest = std::max(largest, n);
    }
    if (window) bound += std::min(largest, window);  // one symbol may hold twice its window
    table.cells.reserve(bound * table.columns.size());
    table.index.reserve(bound);
  }

  const Registry& registry = Registry::instance();
  Scratch scratch;
  bool trial_fresh = true;
  for (const auto& [symbol, series] : universe) {
    std::vector<EvaluatorPtr> evs;
    if (trial_fresh) {
      // The trial's evaluators have seen no step yet, so the first symbol can use them.
      evs = std::move(plan.trial);
      trial_fresh = false;
    } else {
      evs.reserve(plan.slots.size());
      for (const Slot& s : plan.slots) {
        auto ev = registry.build(s.feature->name, s.feature->params);
        if (!ev) return construction_error(*s.feature, ev.error());  // passed the trial: unreachable
        evs.push_back(std::move(ev).value());
      }
    }
    const auto pos = static_cast<std::uint32_t>(table.symbols.size());
    table.symbols.push_back(symbol);
    replay_symbol(plan, evs, spec, pos, series, table, scratch);
  }

  if (spec.scaling) apply_scaling(table, *spec.scaling, spec.features.size());
  return table;
}

FeatureTable label_table(FeatureTable table, std::size_t feature_count) {
  const std::size_t width = table.columns.size();
  const std::size_t f = std::min(feature_count, width);
  const std::size_t keep = width - f;
  FeatureTable out;
  out.columns.assign(table.columns.begin() + static_cast<std::ptrdiff_t>(f), table.columns.end());
  out.symbols = std::move(table.symbols);
  out.index = std::move(table.index);
  out.rows = table.rows;
  out.cells.reserve(out.rows * keep);
  for (std::size_t r = 0; r < table.rows; ++r) {
    const double* row = table.cells.data() + r * width;
    out.cells.insert(out.cells.end(), row + f, row + width);
  }
  return out;
}

}  // namespace ostrel::store
