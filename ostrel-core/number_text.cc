#include "number_text.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

namespace ostrel {

void append_shortest_positional(std::string& out, double x) {
  // Shortest round-trip digits in scientific form, then placed by hand: to_chars' fixed form is
  // also shortest, but this keeps one code path whose digit string is easy to reason about.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  std::size_t pos = 0;
  if (s[0] == '-') {
    out += '-';
    pos = 1;
  }
  const std::size_t e = s.find('e');
  std::string digits;
  digits.reserve(24);
  for (std::size_t i = pos; i < e; ++i)
    if (s[i] != '.') digits += s[i];
  const int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
  const int ndig = static_cast<int>(digits.size());
  if (exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  } else if (exp + 1 >= ndig) {
    out += digits;
    out.append(static_cast<std::size_t>(exp + 1 - ndig), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(exp + 1));
    out += '.';
    out.append(digits, static_cast<std::size_t>(exp + 1), std::string::npos);
  }
}

std::string shortest_positional(double x) {
  std::string s;
  append_shortest_positional(s, x);
  return s;
}

}  // namespace ostrel
