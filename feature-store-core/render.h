#pragma once
// The two text forms of a feature table. Both are written in one pass into one growing buffer
// and share one number format, so the same table always gives the same bytes.

#include <string>

#include "feature-store-core/build.h"

namespace ostrel::store {

std::string render_json(const FeatureTable& table);
std::string render_csv(const FeatureTable& table);

// Appends one cell: missing (NaN, infinite) writes nothing; otherwise the value rounded half
// away from zero to a multiple of 1e-8, as the shortest positional decimal ("-0" for negative
// zero).
void append_number(std::string& out, double x);
// Appends s as a JSON string literal.
void append_json_string(std::string& out, std::string_view s);

}  // namespace ostrel::store
