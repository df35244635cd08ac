#pragma once
// Whole-table rescaling of the feature columns: every column is normalised with statistics over
// all of its rows, all symbols together, as the table stands after filtering and trimming.

#include <cstddef>
#include <span>

#include "feature-store-core/spec.h"

namespace ostrel::store {

// Rescales columns 0 .. feature_count-1 of a row-major table in place (cell (r, c) is
// cells[r * column_count + c]); the columns after them (the labels) are never touched. Only
// finite cells take part: NaN and infinite cells are neither counted nor changed. A column with
// no finite cell stays as it is; a column whose finite cells are all equal becomes 0 there.
void apply_scaling(Scaling scaling, std::span<double> cells, std::size_t column_count,
                   std::size_t feature_count);

struct FeatureTable;

// The same over a built table's cells.
void apply_scaling(FeatureTable& table, Scaling scaling, std::size_t feature_count);

}  // namespace ostrel::store
