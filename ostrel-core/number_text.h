#pragma once
// Numbers as text: the shortest decimal that reads back as the same double, written out in
// positional form (no exponent; no fractional part when integral). Used for parameter values in
// messages and column names, and by the table renderers.

#include <string>

namespace ostrel {

// Appends the text of a finite x to out ("2.5", "-3", "1000000000000000000000", "-0").
void append_shortest_positional(std::string& out, double x);
std::string shortest_positional(double x);

}  // namespace ostrel
