#pragma once
// Parameters after reading: each slot holds the value produced for its kind.

#include <array>
#include <cstddef>
#include <cstdint>

#include "registry_table.h"

namespace ostrel {

class Params {
 public:
  std::size_t n(std::size_t i) const { return slots_[i].n; }
  double f(std::size_t i) const { return slots_[i].f; }
  std::int32_t i32(std::size_t i) const { return static_cast<std::int32_t>(slots_[i].i); }
  std::uint32_t u32(std::size_t i) const { return static_cast<std::uint32_t>(slots_[i].i); }

  struct Slot {
    double f = 0;
    std::size_t n = 0;
    std::int64_t i = 0;
  };
  std::array<Slot, kMaxParams> slots_{};
};

}  // namespace ostrel
