#include "feature-store-core/render.h"

#include <charconv>
#include <cmath>

#include "ostrel-core/number_text.h"

namespace ostrel::store {

namespace {

void append_integer(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_unsigned(std::string& out, std::size_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Rough size of one rendered cell, for reserving the buffer once.
constexpr std::size_t kCellGuess = 12;

}  // namespace

void append_number(std::string& out, double x) {
  if (!std::isfinite(x)) return;
  const double q = x / 1e-8;
  // Beyond about 1.8e300 the quotient overflows; such a value is already a whole multiple of
  // 1e-8 many times over, so it is written as it stands instead of as "inf".
  const double r = std::isfinite(q) ? std::round(q) * 1e-8 : x;
  if (std::fabs(r) < 1e15) {
    // Below 1e15 the fixed form of to_chars without a precision is the shortest round-trip
    // text; above it that form prints the exact binary value's digits, which are not shortest.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed);
    if (res.ec == std::errc()) {
      out.append(buf, res.ptr);
      return;
    }
  }
  append_shortest_positional(out, r);
}

void append_json_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;  // start of the pending run of bytes copied unchanged
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case 0x08: out += "\\b"; break;
      case 0x09: out += "\\t"; break;
      case 0x0A: out += "\\n"; break;
      case 0x0C: out += "\\f"; break;
      case 0x0D: out += "\\r"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

std::string render_json(const FeatureTable& t) {
  const std::size_t width = t.columns.size();
  std::string out;
  out.reserve(64 + t.rows * (24 + width * kCellGuess));
  out += "{\"columns\":[";
  for (std::size_t c = 0; c < width; ++c) {
    if (c) out += ',';
    append_json_string(out, t.columns[c]);
  }
  out += "],\"index\":[";
  for (std::size_t r = 0; r < t.rows; ++r) {
    if (r) out += ',';
    out += "{\"symbol\":";
    append_json_string(out, t.symbol_of(r));
    out += ",\"ts\":";
    append_integer(out, t.index[r].ts);
    out += '}';
  }
  out += "],\"data\":[";
  for (std::size_t r = 0; r < t.rows; ++r) {
    if (r) out += ',';
    out += '[';
    const double* row = t.cells.data() + r * width;
    for (std::size_t c = 0; c < width; ++c) {
      if (c) out += ',';
      if (std::isfinite(row[c]))
        append_number(out, row[c]);
      else
        out += "null";
    }
    out += ']';
  }
  out += "],\"rows\":";
  append_unsigned(out, t.rows);
  out += '}';
  return out;
}

std::string render_csv(const FeatureTable& t) {
  const std::size_t width = t.columns.size();
  std::string out;
  out.reserve(64 + t.rows * (16 + width * kCellGuess));
  // Nothing is quoted: names and symbols pass through unchanged, commas included.
  out += "symbol,ts";
  for (const auto& c : t.columns) {
    out += ',';
    out += c;
  }
  out += '\n';
  for (std::size_t r = 0; r < t.rows; ++r) {
    out += t.symbol_of(r);
    out += ',';
    append_integer(out, t.index[r].ts);
    const double* row = t.cells.data() + r * width;
    for (std::size_t c = 0; c < width; ++c) {
      out += ',';
      append_number(out, row[c]);
    }
    out += '\n';
  }
  return out;
}

}  // namespace ostrel::store
