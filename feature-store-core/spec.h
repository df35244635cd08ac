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
class JsonValue;
}

namespace ostrel::store {

enum class OutputFormat : std::uint8_t { Json, Csv, Arrow, Parquet };
enum class Scaling : std::uint8_t { ZScore, MinMax };
enum class WarmupPolicy : std::uint8_t { Nan, Skip };
enum class PriceField : std::uint8_t { Open, High, Low, Close, Volume };

struct Feature {
  enum class Kind : std::uint8_t { Indicator, Price, Microstructure };
  Kind kind = Kind::Indicator;
  std::string name;  // indicator name, or microstructure metric
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

// Names of the enumerations as written in JSON, in declaration order.
std::string_view to_string(OutputFormat f);
std::string_view to_string(Scaling s);
std::string_view to_string(WarmupPolicy w);
std::string_view to_string(PriceField f);

// A number as it appears inside names: integral values as a saturated i64 ("14", "-0" -> "0"),
// others in the shortest positional decimal that reads back the same ("2.5"), "NaN", "inf".
std::string param_text(double x);
// Elements joined by "," without spaces; empty for an empty list.
std::string param_list_text(const std::vector<double>& params);

std::string evaluator_key(const Feature& f);  // empty for price features
std::string column_name(const Feature& f);
std::string column_name(const Label& l);

// Decoding only (shape errors become Parse). A constructor argument is read as a whole text:
// repeated members are errors and messages carry " at line L column C". A `spec` member of a
// command has already been parsed (the last repeated member won) and messages carry no position.
Result<FeatureSpec, StoreError> parse_spec(std::string_view text);
Result<FeatureSpec, StoreError> parse_spec(const JsonValue& value);

// The checks in order: universe empty, features empty, a label horizon of 0, a window of 0.
Status<StoreError> validate(const FeatureSpec& spec);
// Builds every distinct indicator and microstructure feature once through the registry.
Status<StoreError> trial_build(const FeatureSpec& spec);
// parse + validate + trial_build: what a specification must pass before the store takes it.
Result<FeatureSpec, StoreError> accept_spec(std::string_view text);
Result<FeatureSpec, StoreError> accept_spec(const JsonValue& value);

}  // namespace ostrel::store
