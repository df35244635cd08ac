#pragma once
// The feature store: the current specification plus the streaming universe, driven by one JSON
// command text at a time. Every failing command leaves both exactly as they were.

#include <memory>
#include <string>
#include <string_view>

#include "ostrel-core/result.h"
#include "spec.h"
#include "store_error.h"

namespace ostrel::store {

class JsonValue;
class Universe;

// The universe's definition belongs to the data commands; the store only owns one.
struct UniverseDeleter {
  void operator()(Universe* u) const;
};
using UniversePtr = std::unique_ptr<Universe, UniverseDeleter>;

inline constexpr std::string_view kVersion = "0.1.0";

class FeatureStore {
 public:
  // Parses, validates and trial-builds the feature spec text; the universe starts empty.
  static Result<FeatureStore, StoreError> create(std::string_view spec_json);

  // The one entry point: a response text, or the error whose display the caller shows.
  Result<std::string, StoreError> handle_command(std::string_view text);

  const FeatureSpec& spec() const { return spec_; }
  Universe& universe() { return *universe_; }
  const Universe& universe() const { return *universe_; }

 private:
  FeatureStore(FeatureSpec spec, UniversePtr universe)
      : spec_(std::move(spec)), universe_(std::move(universe)) {}
  FeatureSpec spec_;
  UniversePtr universe_;
};

// Argument helpers shared by the commands.
// A string member; otherwise BadSpec `missing string field "{name}"`.
Result<std::string, StoreError> string_arg(const JsonValue& cmd, std::string_view name);
// A present member (null included); otherwise BadSpec `missing field "{name}"`.
Result<JsonValue, StoreError> required_arg(const JsonValue& cmd, std::string_view name);
// The rendering format of build and build_batch: a string `format` member picks json or csv (any
// other string is refused); otherwise the feature spec's. arrow and parquet cannot be rendered
// over this interface.
Result<OutputFormat, StoreError> select_format(const FeatureSpec& spec, const JsonValue& cmd);

}  // namespace ostrel::store
