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

// The buffer is reserved once from the size of rows sampled across the table (the first rows
// are often warm-up rows full of short nulls), so the text rarely has to grow: growing a large
// string briefly holds both the old and the new copy.
template <class RenderRow>
void reserve_for(std::string& out, std::size_t rows, RenderRow render_row) {
  constexpr std::size_t kSample = 64;
  if (rows <= kSample) return;
  std::string probe;
  for (std::size_t k = 0; k < kSample; ++k) render_row(probe, k * (rows / kSample));
  out.reserve(out.size() + probe.size() / kSample * rows + probe.size() / kSample * rows / 16 + 64);
}

}  // namespace

namespace {

// r = k * 1e-8 for an integer k with |k| <= 2^53. When r is also the double nearest to the
// decimal k / 10^8 and |r| < 1e7, the spacing of doubles near r is below 1e-8, so no other
// decimal of at most 8 fractional digits reads back as r and every shorter text would have fewer
// of them: that decimal, without trailing zeros, is the shortest round-trip text. This covers
// most cells without the general conversion.
bool append_eighths(std::string& out, double r, double k) {
  if (!(std::fabs(r) < 1e7) || k / 1e8 != r) return false;
  if (k == 0.0) {
    out += std::signbit(r) ? "-0" : "0";
    return true;
  }
  if (k < 0) out += '-';
  const auto u = static_cast<std::uint64_t>(std::fabs(k));
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, u / 100000000u);
  out.append(buf, res.ptr);
  std::uint64_t frac = u % 100000000u;
  if (frac == 0) return true;
  char digits[8];
  for (int i = 7; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  int len = 8;
  while (digits[len - 1] == '0') --len;
  out += '.';
  out.append(digits, static_cast<std::size_t>(len));
  return true;
}

}  // namespace

void append_number(std::string& out, double x) {
  if (!std::isfinite(x)) return;
  const double q = x / 1e-8;
  // Beyond about 1.8e300 the quotient overflows; such a value is already a whole multiple of
  // 1e-8 many times over, so it is written as it stands instead of as "inf".
  const double k = std::isfinite(q) ? std::round(q) : 0.0;
  const double r = std::isfinite(q) ? k * 1e-8 : x;
  if (std::isfinite(q) && std::fabs(k) <= 9007199254740992.0 && append_eighths(out, r, k)) return;
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
  auto index_entry = [&t](std::string& out, std::size_t r) {
    out += "{\"symbol\":";
    append_json_string(out, t.symbol_of(r));
    out += ",\"ts\":";
    append_integer(out, t.index[r].ts);
    out += '}';
  };
  auto data_row = [&t, width](std::string& out, std::size_t r) {
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
  };
  std::string out;
  reserve_for(out, t.rows, [&](std::string& o, std::size_t r) {
    index_entry(o, r);
    data_row(o, r);
    o += ",,";
  });
  out += "{\"columns\":[";
  for (std::size_t c = 0; c < width; ++c) {
    if (c) out += ',';
    append_json_string(out, t.columns[c]);
  }
  out += "],\"index\":[";
  for (std::size_t r = 0; r < t.rows; ++r) {
    if (r) out += ',';
    index_entry(out, r);
  }
  out += "],\"data\":[";
  for (std::size_t r = 0; r < t.rows; ++r) {
    if (r) out += ',';
    data_row(out, r);
  }
  out += "],\"rows\":";
  append_unsigned(out, t.rows);
  out += '}';
  return out;
}

std::string render_csv(const FeatureTable& t) {
  const std::size_t width = t.columns.size();
  auto line = [&t, width](std::string& out, std::size_t r) {
    out += t.symbol_of(r);
    out += ',';
    append_integer(out, t.index[r].ts);
    const double* row = t.cells.data() + r * width;
    for (std::size_t c = 0; c < width; ++c) {
      out += ',';
      append_number(out, row[c]);
    }
    out += '\n';
  };
  std::string out;
  reserve_for(out, t.rows, line);
  // Nothing is quoted: names and symbols pass through unchanged, commas included.
  out += "symbol,ts";
  for (const auto& c : t.columns) {
    out += ',';
    out += c;
  }
  out += '\n';
  for (std::size_t r = 0; r < t.rows; ++r) line(out, r);
  return out;
}

}  // namespace ostrel::store
