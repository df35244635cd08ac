#include "feature-store-core/scaling.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "feature-store-core/build.h"

namespace ostrel::store {
namespace {

// Each pass walks the table row by row and keeps one accumulator per column, so the storage is
// read sequentially. Every column still sees its own cells in table order, which is all its
// statistics depend on.
struct Table {
  std::span<double> cells;
  std::size_t stride;    // cells per row
  std::size_t scaled;    // leading columns to rescale
  std::size_t rows() const { return cells.size() / stride; }
  double* row(std::size_t r) const { return cells.data() + r * stride; }
};

// Exponent by which a column is shrunk when its statistics overflow. A deviation of up to twice
// the largest double, shrunk by 2^-540, squares to about 2^-54 of the largest double, so up to
// 10^16 rows of squared deviations still sum to a finite value. Only cells below about 1e-145
// lose bits to the shrinking, far beneath the resolution of a column reaching 1e154.
constexpr int kShrink = 540;

// Population z-score in three passes: sum and count, squared deviations, rewrite.
void z_score(const Table& t) {
  const std::size_t f = t.scaled, rows = t.rows();
  std::vector<double> sum(f, 0.0), count(f, 0.0), total(f, 0.0);
  for (std::size_t r = 0; r < rows; ++r) {
    const double* x = t.row(r);
    for (std::size_t c = 0; c < f; ++c)
      if (std::isfinite(x[c])) {
        sum[c] += x[c];
        count[c] += 1.0;
      }
  }
  std::vector<double> mean(f);
  for (std::size_t c = 0; c < f; ++c) mean[c] = sum[c] / count[c];  // NaN when count is 0: unused
  for (std::size_t r = 0; r < rows; ++r) {
    const double* x = t.row(r);
    for (std::size_t c = 0; c < f; ++c)
      if (std::isfinite(x[c])) {
        const double d = x[c] - mean[c];
        total[c] += d * d;
      }
  }
  // Per column: skip (no finite cell), zero (no spread), scale, or scale after shrinking.
  enum class Action : unsigned char { Skip, Zero, Scale, ShrinkAndScale };
  std::vector<Action> action(f, Action::Skip);
  std::vector<double> sd(f, 1.0);
  std::vector<unsigned char> shrunk(f, 0);
  for (std::size_t c = 0; c < f; ++c) {
    if (count[c] == 0.0) continue;
    if (!std::isfinite(sum[c]) || !std::isfinite(total[c])) {
      // Finite cells whose sum or squared spread overflows would all come out NaN or 0. The same
      // passes over the column shrunk by an exact power of two give the same scores without the
      // overflow. Ordinary columns never get here, so their results are untouched.
      double s = 0.0, tot = 0.0;
      for (std::size_t r = 0; r < rows; ++r)
        if (const double x = t.row(r)[c]; std::isfinite(x)) s += std::ldexp(x, -kShrink);
      mean[c] = s / count[c];
      for (std::size_t r = 0; r < rows; ++r)
        if (const double x = t.row(r)[c]; std::isfinite(x)) {
          const double d = std::ldexp(x, -kShrink) - mean[c];
          tot += d * d;
        }
      total[c] = tot;
      shrunk[c] = 1;
    }
    const double variance = total[c] / count[c];
    if (variance == 0.0) {
      action[c] = Action::Zero;
    } else {
      action[c] = shrunk[c] ? Action::ShrinkAndScale : Action::Scale;
      sd[c] = std::sqrt(variance);
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    double* x = t.row(r);
    for (std::size_t c = 0; c < f; ++c) {
      if (action[c] == Action::Skip || !std::isfinite(x[c])) continue;
      switch (action[c]) {
        case Action::Zero: x[c] = 0.0; break;
        case Action::Scale: x[c] = (x[c] - mean[c]) / sd[c]; break;
        case Action::ShrinkAndScale: x[c] = (std::ldexp(x[c], -kShrink) - mean[c]) / sd[c]; break;
        case Action::Skip: break;
      }
    }
  }
}

// Min-max to [0, 1] in two passes: extremes, rewrite.
void min_max(const Table& t) {
  const std::size_t f = t.scaled, rows = t.rows();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<double> largest(f, -kInf), smallest(f, kInf);
  std::vector<unsigned char> seen(f, 0);
  for (std::size_t r = 0; r < rows; ++r) {
    const double* x = t.row(r);
    for (std::size_t c = 0; c < f; ++c)
      if (std::isfinite(x[c])) {
        largest[c] = std::max(largest[c], x[c]);
        smallest[c] = std::min(smallest[c], x[c]);
        seen[c] = 1;
      }
  }
  std::vector<double> range(f);
  std::vector<unsigned char> halved(f, 0);
  for (std::size_t c = 0; c < f; ++c) {
    range[c] = largest[c] - smallest[c];
    if (seen[c] && std::isinf(range[c])) {
      // Extremes of opposite sign near the top of the range: their difference overflows, which
      // would turn every cell into 0 and the largest into NaN. Halving is exact and keeps the
      // ratios; ordinary columns never get here.
      halved[c] = 1;
      range[c] = largest[c] * 0.5 - smallest[c] * 0.5;
      smallest[c] *= 0.5;
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    double* x = t.row(r);
    for (std::size_t c = 0; c < f; ++c) {
      if (!seen[c] || !std::isfinite(x[c])) continue;
      if (range[c] == 0.0) {
        x[c] = 0.0;
      } else {
        const double v = halved[c] ? x[c] * 0.5 : x[c];
        x[c] = (v - smallest[c]) / range[c];
      }
    }
  }
}

}  // namespace

void apply_scaling(Scaling scaling, std::span<double> cells, std::size_t column_count,
                   std::size_t feature_count) {
  if (column_count == 0 || cells.empty()) return;
  const Table t{cells, column_count, std::min(feature_count, column_count)};
  switch (scaling) {
    case Scaling::ZScore:
      z_score(t);
      break;
    case Scaling::MinMax:
      min_max(t);
      break;
  }
}

void apply_scaling(FeatureTable& table, Scaling scaling, std::size_t feature_count) {
  apply_scaling(scaling, table.cells, table.columns.size(), feature_count);
}

}  // namespace ostrel::store
