#pragma once
// The feature specification: what a build computes and how the table is shaped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ostrel-core/result.h"
#include "store_error.h"

namespace ostrel::store {

enum class OutputFormat : std::uint8_t { Json, Csv, Arrow, Parquet };
enum class Scaling : std::uint8_t { ZScore, MinMax };
enum class WarmupPolicy : std::uint8_t { Nan, Skip };
enum class PriceField : std::uint8_t { Open, High, Low, Close, Volume };

struct Feature {
  enum class Kind : std::uint8_t { Indicator, Price, Microstructure };
  Kind kind = Kind::Indicator;
  std::string name;                  // indicator name, or microstructure metric
  std::vector<double> params;
  std::optional<std::string> field;  // indicator extra output
  PriceField price_field = PriceField::Close;
  // Derived once at decoding: evaluator key (empty for price) and column name.
  std::string key;
  std::string column;
};

struct Label {
  enum class Kind : std::uint8_t { ForwardReturn, TripleBarrier };
  Kind kind = Kind::ForwardReturn;
  std::uint64_t horizon = 0;
  bool log = false;
  double up = 0, down = 0;
  std::string column;
};

struct FeatureSpec {
  std::vector<std::string> universe;
  std::optional<std::string> timeframe;
  std::vector<Feature> features;
  std::vector<Label> labels;
  std::optional<std::uint64_t> window;
  OutputFormat output = OutputFormat::Json;
  std::optional<Scaling> scaling;
  WarmupPolicy warmup = WarmupPolicy::Nan;
};

}  // namespace ostrel::store
