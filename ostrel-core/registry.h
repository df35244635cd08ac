#pragma once
// The registry: the one way the store creates indicators, by name and positional numbers.

#include <array>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "errors.h"
#include "evaluator.h"
#include "params.h"
#include "registry_table.h"
#include "result.h"

namespace ostrel {

using Factory = EvaluatorResult (*)(const Params&);

// One parameter list that constructs successfully; tests, benchmarks and docs use it.
struct Example {
  std::array<double, kMaxParams> v{};
  std::size_t count = 0;
  Example(std::initializer_list<double> xs) {
    for (double x : xs) v[count++] = x;
  }
  std::span<const double> values() const { return {v.data(), count}; }
};

struct FamilyEntry {
  std::string_view name;
  Factory factory;
  Example example;
};

// What a family's register function fills: one add() per name.
class FamilyTable {
 public:
  void add(std::string_view name, Factory factory, std::initializer_list<double> example) {
    entries_.push_back({name, factory, Example(example)});
  }
  std::vector<FamilyEntry>& entries() { return entries_; }

 private:
  std::vector<FamilyEntry> entries_;
};

class Registry {
 public:
  static const Registry& instance();

  // A fresh evaluator, or UnknownIndicatorType / InvalidParameters naming the canonical name.
  [[nodiscard]] Result<EvaluatorPtr, EngineError> build(std::string_view name,
                                                        std::span<const double> params) const;

  // Catalogue row of any accepted name (aliases give their own row), or null.
  const NameInfo* info(std::string_view name) const;
  // Catalogue row after alias resolution, or null.
  const NameInfo* canonical(std::string_view name) const;
  // Whether the name can be built (its family is implemented).
  bool available(std::string_view name) const;
  // Every implemented canonical name with its example parameters, sorted by name.
  std::span<const FamilyEntry> entries() const { return entries_; }

 private:
  Registry();
  std::vector<FamilyEntry> entries_;             // sorted by name
  std::array<const FamilyEntry*, kNameCount> by_row_{};  // kNameTable index -> entry
};

// Reads the parameters of `signature` from `values`; the error text is the message without the
// "invalid parameters for indicator" prefix.
[[nodiscard]] Result<Params, std::string> read_params(std::string_view signature,
                                                      std::span<const double> values);

}  // namespace ostrel
