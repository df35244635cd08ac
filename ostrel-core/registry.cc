#include "registry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "indicators/families.h"
#include "number_text.h"

namespace ostrel {
namespace {

// Absolute tolerance of the integrality test: the machine epsilon of f64.
constexpr double kIntTolerance = 2.220446049250313e-16;

bool integral(double v) { return std::fabs(v - std::trunc(v)) <= kIntTolerance; }

std::string param_message(std::size_t i, const char* what, double v) {
  std::string s = "parameter #" + std::to_string(i) + " must be " + what + ", got ";
  append_shortest_positional(s, v);
  return s;
}

const NameInfo* find(std::string_view name) {
  auto it = std::lower_bound(kNameTable.begin(), kNameTable.end(), name,
                             [](const NameInfo& a, std::string_view b) { return a.name < b; });
  if (it == kNameTable.end() || it->name != name) return nullptr;
  return &*it;
}

}  // namespace

Result<Params, std::string> read_params(std::string_view signature,
                                        std::span<const double> values) {
  Params p;
  for (std::size_t i = 0; i < signature.size(); ++i) {
    if (i >= values.size()) return "missing parameter #" + std::to_string(i);
    const double v = values[i];
    if (!std::isfinite(v)) return "parameter #" + std::to_string(i) + " must be finite";
    auto& slot = p.slots_[i];
    slot.f = v;
    switch (signature[i]) {
      case 'N': {
        if (!(v > 0) || !integral(v)) return param_message(i, "a positive integer", v);
        const double t = std::trunc(v);
        // Saturate: a period beyond the machine range is refused later by the period checks.
        constexpr double kLimit = 18446744073709551616.0;  // 2^64
        slot.n = t >= kLimit ? std::numeric_limits<std::size_t>::max()
                             : static_cast<std::size_t>(t);
        break;
      }
      case 'I':
        if (!integral(v) || v < -2147483648.0 || v > 2147483647.0)
          return param_message(i, "an i32", v);
        slot.i = static_cast<std::int64_t>(std::trunc(v));
        break;
      case 'U':
        if (v < 0 || v > 4294967295.0 || !integral(v)) return param_message(i, "a u32", v);
        slot.i = static_cast<std::int64_t>(std::trunc(v));
        break;
      default:  // 'F': any finite value
        break;
    }
  }
  return p;
}

const Registry& Registry::instance() {
  static const Registry r;
  return r;
}

Registry::Registry() {
  FamilyTable t;
  register_moving_averages(t);
  register_momentum(t);
  register_volatility(t);
  register_bands(t);
  register_statistics(t);
  register_derivatives(t);
  register_microstructure(t);
  register_breadth(t);
  entries_ = std::move(t.entries());
  std::sort(entries_.begin(), entries_.end(),
            [](const FamilyEntry& a, const FamilyEntry& b) { return a.name < b.name; });
  for (const auto& e : entries_) {
    const NameInfo* row = find(e.name);
    // A registration for a name outside the catalogue is a programming error caught by the
    // registry tests; it is simply not reachable here.
    if (row != nullptr && row->alias_of.empty())
      by_row_[static_cast<std::size_t>(row - kNameTable.data())] = &e;
  }
}

const NameInfo* Registry::info(std::string_view name) const { return find(name); }

const NameInfo* Registry::canonical(std::string_view name) const {
  const NameInfo* row = find(name);
  if (row != nullptr && !row->alias_of.empty()) row = find(row->alias_of);
  return row;
}

bool Registry::available(std::string_view name) const {
  const NameInfo* row = canonical(name);
  return row != nullptr && by_row_[static_cast<std::size_t>(row - kNameTable.data())] != nullptr;
}

Result<EvaluatorPtr, EngineError> Registry::build(std::string_view name,
                                                  std::span<const double> params) const {
  const NameInfo* row = canonical(name);
  const FamilyEntry* entry =
      row == nullptr ? nullptr : by_row_[static_cast<std::size_t>(row - kNameTable.data())];
  if (entry == nullptr) return EngineError::unknown_indicator_type(name);
  auto p = read_params(row->signature, params);
  if (!p) return EngineError::invalid_parameters(row->name, std::move(p).error());
  auto ev = entry->factory(*p);
  if (!ev) return EngineError::invalid_parameters(row->name, ev.error().display());
  return std::move(ev).value();
}

}  // namespace ostrel
