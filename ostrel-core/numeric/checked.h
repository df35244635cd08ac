#pragma once
// Arithmetic on sizes and conversions from doubles that can never overflow or hit undefined
// behaviour, whatever the parameters.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace ostrel::numeric {

[[nodiscard]] inline std::optional<std::size_t> checked_add(std::size_t a, std::size_t b) {
  std::size_t r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

[[nodiscard]] inline std::optional<std::size_t> checked_mul(std::size_t a, std::size_t b) {
  std::size_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

// Saturating double -> int64 (NaN gives 0), truncating toward zero.
[[nodiscard]] inline std::int64_t clamp_to_i64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (x < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);
}

// Saturating double -> size_t (NaN and negatives give 0), truncating toward zero.
[[nodiscard]] inline std::size_t clamp_to_size(double x) {
  if (!(x > 0)) return 0;
  if (x >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(x);
}

// Floor division for any int64 numerator and positive divisor (days from millisecond stamps).
[[nodiscard]] inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace ostrel::numeric
