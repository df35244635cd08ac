#pragma once
// The local calendar day of a millisecond timestamp: seconds = floor(ts / 1000) + offset * 60,
// day number = floor(seconds / 86400) from 1970-01-01, and its proleptic Gregorian date. Floor
// division (not C++'s truncation) keeps timestamps before 1970 on the right day, and every step
// is exact for the whole i64 range: |ts / 1000| < 2^54, so adding the offset cannot overflow.

#include <cstdint>

#include "checked.h"

namespace ostrel::numeric {

struct CivilDate {
  std::int64_t year = 1970;
  unsigned month = 1;  // 1..12
  unsigned day = 1;    // 1..31
  friend constexpr bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Proleptic Gregorian date of a day number counted from 1970-01-01 (days-to-civil in 400-year
// eras of 146097 days).
constexpr CivilDate civil_from_days(std::int64_t days) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;                                   // [0, 146096]
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);            // [0, 365]
  const std::int64_t mp = (5 * doy + 2) / 153;                                 // [0, 11]
  const auto d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const auto m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

struct LocalDay {
  std::int64_t number = 0;  // days since 1970-01-01 in local time
  unsigned hour = 0;        // 0..23
  CivilDate date() const { return civil_from_days(number); }
};

inline LocalDay local_day(std::int64_t ts_ms, std::int32_t utc_offset_minutes) {
  const std::int64_t seconds = floor_div(ts_ms, 1000) + std::int64_t{utc_offset_minutes} * 60;
  const std::int64_t day = floor_div(seconds, 86400);
  return {day, static_cast<unsigned>((seconds - day * 86400) / 3600)};
}

}  // namespace ostrel::numeric
