#include "feature-store-core/scaling.h"

#include <cmath>
#include <limits>

namespace ostrel::store {

namespace {

void z_score(FeatureTable& t, std::size_t c) {
  const std::size_t w = t.columns.size();
  double sum = 0.0, count = 0.0;
  for (std::size_t r = 0; r < t.rows; ++r) {
    const double x = t.cells[r * w + c];
    if (std::isfinite(x)) {
      sum += x;
      count += 1.0;
    }
  }
  if (count == 0.0) return;
  const double mean = sum / count;
  double total = 0.0;
  for (std::size_t r = 0; r < t.rows; ++r) {
    const double x = t.cells[r * w + c];
    if (std::isfinite(x)) total += (x - mean) * (x - mean);
  }
  const double variance = total / count;
  const double sd = std::sqrt(variance);
  for (std::size_t r = 0; r < t.rows; ++r) {
    double& x = t.cells[r * w + c];
    if (std::isfinite(x)) x = variance == 0.0 ? 0.0 : (x - mean) / sd;
  }
}

void min_max(FeatureTable& t, std::size_t c) {
  const std::size_t w = t.columns.size();
  double hi = -std::numeric_limits<double>::infinity();
  double lo = std::numeric_limits<double>::infinity();
  bool any = false;
  for (std::size_t r = 0; r < t.rows; ++r) {
    const double x = t.cells[r * w + c];
    if (std::isfinite(x)) {
      any = true;
      if (x > hi) hi = x;
      if (x < lo) lo = x;
    }
  }
  if (!any) return;
  const double range = hi - lo;
  for (std::size_t r = 0; r < t.rows; ++r) {
    double& x = t.cells[r * w + c];
    if (std::isfinite(x)) x = range == 0.0 ? 0.0 : (x - lo) / range;
  }
}

}  // namespace

void apply_scaling(FeatureTable& table, Scaling scaling, std::size_t feature_count) {
  for (std::size_t c = 0; c < feature_count && c < table.columns.size(); ++c) {
    if (scaling == Scaling::ZScore)
      z_score(table, c);
    else
      min_max(table, c);
  }
}

}  // namespace ostrel::store
