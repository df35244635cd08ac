#pragma once
// Whole-table normalisation of the feature columns, after filtering and trimming.

#include <cstddef>

#include "feature-store-core/build.h"
#include "feature-store-core/spec.h"

namespace ostrel::store {

// Rescales the first `feature_count` columns in place; non-finite cells take no part.
void apply_scaling(FeatureTable& table, Scaling scaling, std::size_t feature_count);

}  // namespace ostrel::store
