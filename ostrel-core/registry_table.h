#pragma once
// The catalogue of every accepted indicator name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "evaluator.h"

namespace ostrel {

enum class Family : std::uint8_t {
  moving_averages,
  momentum,
  volatility,
  bands,
  trend,
  volume,
  candlestick,
  chart_patterns,
  statistics,
  risk,
  cycles,
  sequential,
  market_profile,
  pair,
  microstructure,
  derivatives,
  breadth,
  transforms,
  range_oscillators,
  trailing_stops,
};

struct NameInfo {
  std::string_view name;
  std::string_view signature;  // parameter kinds in order: 'N', 'F', 'I', 'U'
  InputKind input;
  Family family;
  std::span<const std::string_view> extras;  // extra output names, in order
  std::string_view alias_of;                 // canonical name for an alias, else empty
};

inline constexpr std::size_t kNameCount = 497;
inline constexpr std::size_t kMaxParams = 9;

// Sorted by name bytes.
extern const std::array<NameInfo, kNameCount> kNameTable;

}  // namespace ostrel
