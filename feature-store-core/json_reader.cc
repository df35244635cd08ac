// The only place that sees the JSON library: its SAX reader drives a builder that lays the
// values out in one flat array, numbers arrive as raw text and are converted here so that
// integer and fraction literals stay apart and every number is correctly rounded.

#include "json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#include "ostrel-core/number_text.h"
#include "rapidjson/error/error.h"
#include "rapidjson/reader.h"

namespace ostrel::store {

namespace {

using Node = JsonDocument::Node;
using Type = JsonValue::Type;

constexpr std::size_t kMaxText = std::numeric_limits<std::uint32_t>::max() - 1;

// Magnitude class of a decimal literal that did not fit a double: true when it is too large.
bool overflows(std::string_view s) {
  std::size_t p = (s[0] == '-') ? 1 : 0;
  long sig_exp = 0;  // decimal exponent of the first significant digit
  bool seen = false;
  long int_digits = 0;
  for (; p < s.size() && s[p] >= '0' && s[p] <= '9'; ++p) {
    if (seen || s[p] != '0') {
      seen = true;
      ++int_digits;
    }
  }
  if (seen) {
    sig_exp = int_digits - 1;
  } else if (p < s.size() && s[p] == '.') {
    long zeros = 0;
    for (++p; p < s.size() && s[p] == '0'; ++p) ++zeros;
    sig_exp = -(zeros + 1);
  }
  std::size_t e = s.find_first_of("eE");
  long exp = 0;
  if (e != std::string_view::npos) {
    std::size_t q = e + 1;
    bool neg = false;
    if (q < s.size() && (s[q] == '+' || s[q] == '-')) neg = s[q++] == '-';
    for (; q < s.size(); ++q) exp = std::min(exp * 10 + (s[q] - '0'), 1000000000L);
    if (neg) exp = -exp;
  }
  return sig_exp + exp > 0;
}

// Prices are mostly short decimals such as 101.25. When the digits, read as an integer, stay below
// 10^15 (exact as a double) and there is no exponent, the value is that integer divided by an
// exact power of ten, and the one division rounds correctly: the same double the general
// conversion gives, far cheaper. Anything else (exponents, long literals) returns false. The
// literal has already been checked against the grammar.
bool short_decimal(std::string_view t, double& out) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::size_t p = t[0] == '-' ? 1 : 0;
  std::uint64_t m = 0;
  int digits = 0, frac = -1;
  for (; p < t.size(); ++p) {
    const char c = t[p];
    if (c == '.') {
      frac = 0;
      continue;
    }
    if (c < '0' || c > '9' || digits == 15) return false;
    m = m * 10 + static_cast<std::uint64_t>(c - '0');
    ++digits;
    if (frac >= 0) ++frac;
  }
  const double v = static_cast<double>(m) / kPow10[frac < 0 ? 0 : frac];
  out = t[0] == '-' ? -v : v;
  return true;
}

std::string syntax_message(rapidjson::ParseErrorCode code, bool at_end) {
  using namespace rapidjson;
  if (at_end && code != kParseErrorTermination) return "EOF while parsing a value";
  switch (code) {
    case kParseErrorDocumentEmpty:
      return "EOF while parsing a value";
    case kParseErrorDocumentRootNotSingular:
      return "trailing characters";
    case kParseErrorValueInvalid:
      return "expected value";
    case kParseErrorObjectMissName:
      return "key must be a string";
    case kParseErrorObjectMissColon:
      return "expected `:`";
    case kParseErrorObjectMissCommaOrCurlyBracket:
      return "expected `,` or `}`";
    case kParseErrorArrayMissCommaOrSquareBracket:
      return "expected `,` or `]`";
    case kParseErrorStringUnicodeEscapeInvalidHex:
      return "invalid unicode escape";
    case kParseErrorStringUnicodeSurrogateInvalid:
      return "lone surrogate in hex escape";
    case kParseErrorStringEscapeInvalid:
      return "invalid escape";
    case kParseErrorStringMissQuotationMark:
      return "EOF while parsing a string";
    case kParseErrorStringInvalidEncoding:
      return "invalid unicode code point";
    case kParseErrorNumberTooBig:
      return "number out of range";
    case kParseErrorNumberMissFraction:
    case kParseErrorNumberMissExponent:
      return "invalid number";
    default:
      return "syntax error";
  }
}

// Rust-style debug quoting, as the messages show strings: "a\"b".
void append_quoted(std::string& out, std::string_view s) {
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u{";
          if (c >= 16) out += kHex[c >> 4];
          out += kHex[c & 15];
          out += '}';
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// The reader parses in place: strings are decoded over their own text (escapes only shrink them),
// so it needs no scratch stack of its own. Its scratch stack starts out as a null pointer that
// it offsets, which is undefined behaviour; reading in place avoids that stack altogether.
// The stream is also not copyable by the reader (the stock streams are copied into locals while a
// token is read), so Tell() inside a handler callback is exact.
class TextStream {
 public:
  using Ch = char;
  explicit TextStream(char* s) : head_(s), src_(s), dst_(nullptr) {}
  Ch Peek() const { return *src_; }
  Ch Take() { return *src_++; }
  std::size_t Tell() const { return static_cast<std::size_t>(src_ - head_); }
  Ch* PutBegin() { return dst_ = src_; }
  void Put(Ch c) { *dst_++ = c; }
  void Flush() {}
  std::size_t PutEnd(Ch* begin) { return static_cast<std::size_t>(dst_ - begin); }
  const char* at(std::size_t offset) const { return head_ + offset; }

 private:
  char* head_;
  char* src_;
  char* dst_;
};

}  // namespace

// SAX handler: scalars are pushed on a stack; a closing bracket moves its children, which are
// the top of the stack, into the document's flat array in one block.
struct DocBuilder : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, DocBuilder> {
  DocBuilder(JsonDocument& d, TextStream& s) : doc(d), stream(s) {}

  JsonDocument& doc;
  TextStream& stream;
  std::vector<Node> stack;
  std::vector<std::uint32_t> frames;  // stack index where each open container's children start
  std::string strings;
  bool has_key = false;
  std::uint32_t key_off = 0, key_len = 0, key_end = 0;
  std::string error;  // set when the builder stops the reader
  std::size_t error_offset = 0;

  std::uint32_t here() const { return static_cast<std::uint32_t>(stream.Tell()); }

  std::uint32_t intern(const char* s, rapidjson::SizeType len) {
    auto off = static_cast<std::uint32_t>(strings.size());
    strings.append(s, len);
    return off;
  }

  Node& add(Type t) {
    Node& n = stack.emplace_back();
    n.type = t;
    n.end = here();
    if (has_key) {
      n.key_off = key_off;
      n.key_len = key_len;
      n.key_end = key_end;
      has_key = false;
    }
    return n;
  }

  bool Null() {
    add(Type::Null);
    return true;
  }
  bool Bool(bool b) {
    add(Type::Bool).b = b;
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType len, bool) {
    // In place, the reader hands over a pointer that depends on how it copies streams; the
    // literal is simply the `len` bytes just read, which reading in place leaves untouched.
    std::string_view t(stream.at(stream.Tell() - len), len);
    bool integral = true;
    for (const char c : t) integral &= c != '.' && c != 'e' && c != 'E';
    // "-0" keeps its sign, so it is held as a floating value (-0.0) rather than integer 0.
    if (integral && t != "-0") {
      if (t[0] == '-') {
        std::int64_t v;
        auto r = std::from_chars(t.data(), t.data() + t.size(), v);
        if (r.ec == std::errc() && r.ptr == t.data() + t.size()) {
          add(Type::Int).i = v;
          return true;
        }
      } else {
        std::uint64_t v;
        auto r = std::from_chars(t.data(), t.data() + t.size(), v);
        if (r.ec == std::errc() && r.ptr == t.data() + t.size()) {
          if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            add(Type::Int).i = static_cast<std::int64_t>(v);
          else
            add(Type::UInt).u = v;
          return true;
        }
      }
      // Integers beyond the 64-bit ranges are read as the nearest double.
    }
    double d = 0;
    if (short_decimal(t, d)) {
      add(Type::Float).d = d;
      return true;
    }
    auto r = std::from_chars(t.data(), t.data() + t.size(), d);
    if (r.ec == std::errc::result_out_of_range) {
      if (overflows(t)) {
        error = "number out of range";
        error_offset = here();
        return false;
      }
      d = t[0] == '-' ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != t.data() + t.size()) {
      error = "invalid number";
      error_offset = here();
      return false;
    }
    add(Type::Float).d = d;
    return true;
  }
  bool String(const char* s, rapidjson::SizeType len, bool) {
    const std::uint32_t off = intern(s, len);
    Node& n = add(Type::String);
    n.span.first = off;
    n.span.count = len;
    return true;
  }
  bool Key(const char* s, rapidjson::SizeType len, bool) {
    key_off = intern(s, len);
    key_len = len;
    key_end = here();
    has_key = true;
    return true;
  }
  bool open(Type t) {
    if (frames.size() >= JsonDocument::kMaxDepth) {
      error = "recursion limit exceeded";
      error_offset = here();
      return false;
    }
    add(t);
    frames.push_back(static_cast<std::uint32_t>(stack.size()));
    return true;
  }
  bool close() {
    const std::uint32_t start = frames.back();
    frames.pop_back();
    Node& parent = stack[start - 1];
    parent.span.first = static_cast<std::uint32_t>(doc.nodes_.size());
    parent.span.count = static_cast<std::uint32_t>(stack.size() - start);
    parent.end = here();  // the closing bracket has been read
    doc.nodes_.insert(doc.nodes_.end(), stack.begin() + start, stack.end());
    stack.resize(start);
    return true;
  }
  bool StartObject() { return open(Type::Object); }
  bool EndObject(rapidjson::SizeType) { return close(); }
  bool StartArray() { return open(Type::Array); }
  bool EndArray(rapidjson::SizeType) { return close(); }
};

// ---- JsonDocument ----------------------------------------------------------------------------

Result<std::unique_ptr<JsonDocument>, std::string> JsonDocument::parse(std::string_view text,
                                                                       Duplicates dups) {
  std::unique_ptr<JsonDocument> doc(new JsonDocument());
  doc->dups_ = dups;
  if (text.size() > kMaxText) return std::string("input too large at line 1 column 1");

  // Decoded in place. The padding matters: the library's UTF-8 check takes the continuation bytes
  // of a multibyte sequence without looking for the end, so a text ending inside one would be
  // read past its terminator.
  std::string scratch;
  scratch.reserve(text.size() + 8);
  scratch.assign(text);
  scratch.append(8, '\0');
  TextStream stream(scratch.data());
  DocBuilder builder(*doc, stream);
  rapidjson::Reader reader;
  // Recursive descent is bounded by the builder, which stops the reader at kMaxDepth.
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseStopWhenDoneFlag |
                              rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag;
  rapidjson::ParseResult ok = reader.Parse<kFlags>(stream, builder);
  const std::size_t stop = stream.Tell();

  // Positions are counted over the text kept here. Reading in place only rewrites string
  // literals: a closing quote becomes a NUL, which counts the same, and escapes are decoded over
  // their own bytes, which can add line breaks. Without a backslash the buffer therefore counts
  // exactly like the input and is kept instead of a second copy of a text that may be hundreds of
  // megabytes long.
  if (text.find('\\') == std::string_view::npos) {
    scratch.resize(text.size());
    doc->text_ = std::move(scratch);
  } else {
    std::string().swap(scratch);
    doc->text_.assign(text);
  }
  const auto fail_at = [&](std::string msg, std::size_t offset, bool is_char) {
    // A syntax error points at the offending character, which its column counts.
    const bool counts = is_char && offset < doc->text_.size();
    return doc->with_position(JsonError{std::move(msg), offset + (counts ? 1 : 0)});
  };
  if (!ok) {
    if (!builder.error.empty()) return fail_at(builder.error, builder.error_offset, false);
    const bool at_end = ok.Offset() >= doc->text_.size();
    return fail_at(syntax_message(ok.Code(), at_end), ok.Offset(), true);
  }
  // The reader treats a NUL byte as the end of the text; anything but whitespace after the
  // value, NUL included, is refused here (the bytes after the value were not rewritten).
  std::size_t p = stop;
  while (p < doc->text_.size()) {
    const char c = doc->text_[p];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
      return fail_at("trailing characters", p, true);
    ++p;
  }
  doc->nodes_.push_back(builder.stack.front());
  doc->strings_ = std::move(builder.strings);
  // No shrink_to_fit: it would copy every node while both blocks are held, and the unused tail
  // of the last growth was never written, so it occupies no memory.
  return doc;
}

JsonValue JsonDocument::root() const {
  return JsonValue(this, static_cast<std::uint32_t>(nodes_.size() - 1));
}

std::string JsonDocument::with_position(const JsonError& e) const {
  // Columns count characters: UTF-8 continuation bytes do not start one.
  const std::size_t end = std::min(e.offset, text_.size());
  std::size_t line = 1, column = 0;
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text_[i]);
    if (c == '\n') {
      ++line;
      column = 0;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  std::string out = e.message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

// ---- JsonValue -------------------------------------------------------------------------------

struct NodeAccess {
  static const Node& get(const JsonDocument* d, std::uint32_t i) { return d->nodes_[i]; }
  static std::string_view str(const JsonDocument* d, std::uint32_t off, std::uint32_t len) {
    return std::string_view(d->strings_).substr(off, len);
  }
};

namespace {
const Node& node_of(const JsonDocument* doc, std::uint32_t i) { return NodeAccess::get(doc, i); }
}  // namespace

JsonValue::Type JsonValue::type() const { return node_of(doc_, node_).type; }

std::size_t JsonValue::size() const {
  const Node& n = node_of(doc_, node_);
  return (n.type == Type::Array || n.type == Type::Object) ? n.span.count : 0;
}

JsonValue JsonValue::index(std::size_t i) const {
  return JsonValue(doc_, node_of(doc_, node_).span.first + static_cast<std::uint32_t>(i));
}

JsonValue JsonValue::member(std::size_t i) const { return index(i); }

std::string_view JsonValue::key(std::size_t i) const {
  const Node& m = node_of(doc_, node_of(doc_, node_).span.first + static_cast<std::uint32_t>(i));
  return NodeAccess::str(doc_, m.key_off, m.key_len);
}

bool JsonValue::shadowed(std::size_t i) const {
  const std::string_view k = key(i);
  for (std::size_t j = i + 1; j < size(); ++j)
    if (key(j) == k) return true;
  return false;
}

std::optional<JsonValue> JsonValue::field(std::string_view name) const {
  if (type() != Type::Object) return std::nullopt;
  for (std::size_t i = size(); i-- > 0;)
    if (key(i) == name) return member(i);
  return std::nullopt;
}

bool JsonValue::flat_numbers(std::span<const std::string_view> names, std::int64_t& first,
                             std::span<double> rest) const {
  const Node& n = node_of(doc_, node_);
  if ((n.type != Type::Array && n.type != Type::Object) || n.span.count != names.size() ||
      rest.size() + 1 != names.size())
    return false;
  const bool named = n.type == Type::Object;
  const Node* m = &node_of(doc_, n.span.first);
  for (std::size_t i = 0; i < names.size(); ++i, ++m) {
    if (named && NodeAccess::str(doc_, m->key_off, m->key_len) != names[i]) return false;
    if (i == 0) {
      if (m->type != Type::Int) return false;
      first = m->i;
      continue;
    }
    switch (m->type) {
      case Type::Int:
        rest[i - 1] = static_cast<double>(m->i);
        break;
      case Type::UInt:
        rest[i - 1] = static_cast<double>(m->u);
        break;
      case Type::Float:
        rest[i - 1] = m->d;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool JsonValue::as_bool() const { return node_of(doc_, node_).b; }

std::string_view JsonValue::as_string() const {
  const Node& n = node_of(doc_, node_);
  return NodeAccess::str(doc_, n.span.first, n.span.count);
}

std::size_t JsonValue::end_offset() const { return node_of(doc_, node_).end; }

std::size_t JsonValue::key_end_offset() const { return node_of(doc_, node_).key_end; }

std::string JsonValue::describe() const {
  const Node& n = node_of(doc_, node_);
  std::string out;
  switch (n.type) {
    case Type::Null:
      return "null";
    case Type::Bool:
      return n.b ? "boolean `true`" : "boolean `false`";
    case Type::Int:
      return "integer `" + std::to_string(n.i) + "`";
    case Type::UInt:
      return "integer `" + std::to_string(n.u) + "`";
    case Type::Float: {
      out = "floating point `";
      std::string num = shortest_positional(n.d);
      if (num.find('.') == std::string::npos) num += ".0";
      out += num;
      out += '`';
      return out;
    }
    case Type::String:
      out = "string ";
      append_quoted(out, as_string());
      return out;
    case Type::Array:
      return "sequence";
    case Type::Object:
      return "map";
  }
  return out;
}

JsonError JsonValue::invalid_type(std::string_view expected) const {
  std::string m = "invalid type: ";
  m += describe();
  m += ", expected ";
  m += expected;
  return JsonError{std::move(m), end_offset()};
}

Result<double, JsonError> JsonValue::f64() const {
  const Node& n = node_of(doc_, node_);
  switch (n.type) {
    case Type::Int:
      return static_cast<double>(n.i);
    case Type::UInt:
      return static_cast<double>(n.u);
    case Type::Float:
      return n.d;
    default:
      return invalid_type("f64");
  }
}

Result<std::int64_t, JsonError> JsonValue::i64() const {
  const Node& n = node_of(doc_, node_);
  if (n.type == Type::Int) return n.i;
  if (n.type == Type::UInt)
    return JsonError{"invalid value: integer `" + std::to_string(n.u) + "`, expected i64", n.end};
  return invalid_type("i64");
}

Result<std::uint64_t, JsonError> JsonValue::u64() const {
  const Node& n = node_of(doc_, node_);
  if (n.type == Type::UInt) return n.u;
  if (n.type == Type::Int) {
    if (n.i >= 0) return static_cast<std::uint64_t>(n.i);
    return JsonError{"invalid value: integer `" + std::to_string(n.i) + "`, expected u64", n.end};
  }
  return invalid_type("u64");
}

Result<bool, JsonError> JsonValue::boolean() const {
  if (type() == Type::Bool) return as_bool();
  return invalid_type("a boolean");
}

Result<std::string, JsonError> JsonValue::string() const {
  if (type() == Type::String) return std::string(as_string());
  return invalid_type("a string");
}

// ---- helpers ---------------------------------------------------------------------------------

namespace {
void append_names(std::string& m, std::span<const std::string_view> names) {
  if (names.empty()) {
    m += "no variants";
    return;
  }
  if (names.size() == 1) {
    m += '`';
    m += names[0];
    m += '`';
    return;
  }
  if (names.size() == 2) {
    m += '`';
    m += names[0];
    m += "` or `";
    m += names[1];
    m += '`';
    return;
  }
  m += "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) m += ", ";
    m += '`';
    m += names[i];
    m += '`';
  }
}
}  // namespace

JsonError unknown_variant(std::string_view got, std::span<const std::string_view> names,
                          std::size_t offset) {
  std::string m = "unknown variant `";
  m += got;
  m += "`, expected ";
  append_names(m, names);
  return JsonError{std::move(m), offset};
}

JsonError no_variant_matched(std::string_view enum_name, JsonValue v) {
  return JsonError{"data did not match any variant of untagged enum " + std::string(enum_name),
                   v.end_offset()};
}

Result<std::size_t, JsonError> decode_enum(JsonValue v, std::string_view enum_name,
                                           std::span<const std::string_view> names) {
  if (!v.is_string()) return v.invalid_type("enum " + std::string(enum_name));
  const std::string_view s = v.as_string();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == s) return i;
  return unknown_variant(s, names, v.end_offset());
}

Result<std::size_t, JsonError> decode_enum(JsonValue v, std::span<const std::string_view> names) {
  if (!v.is_string()) return v.invalid_type("variant identifier");
  return decode_enum(v, "", names);
}

// ---- RecordReader ----------------------------------------------------------------------------

RecordReader::RecordReader(JsonValue v, std::string_view expecting,
                           std::span<const std::string_view> fields, std::size_t min_len)
    : value_(v), expecting_(expecting), fields_(fields), min_len_(min_len) {
  open(v, true);
}

RecordReader RecordReader::object_only(JsonValue v, std::string_view expecting,
                                       std::span<const std::string_view> fields) {
  RecordReader r;
  r.value_ = v;
  r.expecting_ = expecting;
  r.fields_ = fields;
  r.open(v, false);
  return r;
}

void RecordReader::open(JsonValue v, bool allow_array) {
  if (fields_.size() > kMaxFields) {  // a decoder's own mistake, reported rather than overrun
    shape_error_ = JsonError{"record declares too many fields", v.end_offset()};
    fields_ = fields_.first(0);
    return;
  }
  if (v.is_object()) {
    const bool reject = v.document()->duplicates() == Duplicates::Reject;
    for (std::size_t m = 0; m < v.size(); ++m) {
      const std::string_view k = v.key(m);
      for (std::size_t f = 0; f < fields_.size(); ++f) {
        if (fields_[f] != k) continue;
        if (slots_[f] && reject) {
          shape_error_ =
              JsonError{"duplicate field `" + std::string(k) + "`", v.member(m).key_end_offset()};
          return;
        }
        slots_[f] = v.member(m);  // the last occurrence wins
        break;
      }
    }
    return;
  }
  if (v.is_array() && allow_array) {
    const std::size_t n = v.size();
    if (n < min_len_) {
      shape_error_ = JsonError{"invalid length " + std::to_string(n) + ", expected " +
                                   std::string(expecting_) + " with " +
                                   std::to_string(fields_.size()) + " elements",
                               v.end_offset()};
      return;
    }
    if (n > fields_.size()) {
      shape_error_ =
          JsonError{"invalid length " + std::to_string(n) + ", expected fewer elements in array",
                    v.end_offset()};
      return;
    }
    for (std::size_t i = 0; i < n; ++i) slots_[i] = v.index(i);
    return;
  }
  shape_error_ = v.invalid_type(expecting_);
}

std::optional<JsonValue> RecordReader::require(std::size_t i) {
  if (shape_error_ || i >= fields_.size()) return std::nullopt;
  auto v = get(i);
  if (!v && !missing_)
    missing_ = JsonError{"missing field `" + std::string(fields_[i]) + "`", value_.end_offset()};
  return v;
}

void RecordReader::error(JsonError e) {
  if (!type_error_) type_error_ = std::move(e);
}

std::optional<JsonError> RecordReader::finish() const {
  if (shape_error_) return shape_error_;
  if (type_error_) return type_error_;
  return missing_;
}

}  // namespace ostrel::store
