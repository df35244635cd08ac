#pragma once
// A build: the feature table of a universe under a specification. Every build resolves the
// features once into a plan, then replays each symbol's whole series through fresh evaluators.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "feature-store-core/spec.h"
#include "feature-store-core/store_error.h"
#include "feature-store-core/universe.h"
#include "ostrel-core/result.h"

namespace ostrel::store {

struct IndexEntry {
  std::uint32_t symbol = 0;  // position in FeatureTable::symbols
  std::int64_t ts = 0;
};

// Rows grouped by symbol in symbol order; each row holds one cell per column, features first,
// then labels; NaN is a missing cell. Cells are stored row-major in one block.
struct FeatureTable {
  std::vector<std::string> columns;
  std::vector<std::string> symbols;  // the distinct symbols the index refers to
  std::vector<IndexEntry> index;
  std::vector<double> cells;  // rows * columns.size()
  std::size_t rows = 0;

  std::span<const double> row(std::size_t r) const {
    return {cells.data() + r * columns.size(), columns.size()};
  }
  const std::string& symbol_of(std::size_t r) const { return symbols[index[r].symbol]; }
};

[[nodiscard]] Result<FeatureTable, StoreError> build_table(const Universe& universe,
                                                           const FeatureSpec& spec);

// The table restricted to its label columns (the features are the first `feature_count`).
FeatureTable label_table(FeatureTable table, std::size_t feature_count);

}  // namespace ostrel::store
