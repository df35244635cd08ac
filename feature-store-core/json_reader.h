#pragma once
// The JSON reader: parses one text into a read-only tree and decodes records from it with
// reader-style messages ("missing field `close`", "invalid type: string \"x\", expected f64").
//
// Usage, decoding a record written as an object or as an array of its members in order:
//
//   Result<Candle, JsonError> decode_candle(JsonValue v) {
//     static constexpr std::string_view kFields[] = {"ts", "open", "high", "low", "close",
//                                                    "volume"};
//     RecordReader r(v, "struct CandleInput", kFields);
//     Candle c;
//     c.ts = r.i64(0);
//     c.open = r.f64(1);
//     ...
//     if (auto e = r.finish()) return *e;
//     return c;
//   }
//
// Nested records and lists: `r.record(i, decode_level)`, `r.list(i, decode_level)` (the element
// decoder has the shape `Result<T, JsonError>(JsonValue)`), or `decode_list(v, fn)` for a bare
// array. Optional members: `r.opt_f64(i)`, `r.opt_record(i, fn)`, ... (absent or null -> none).
//
// Duplicates: a document parsed with `Duplicates::Reject` (a constructor argument) reports a
// known member written twice as "duplicate field `x`"; with `Duplicates::LastWins` (a command
// text) the last occurrence replaces the earlier ones, silently.
//
// Positions: every error carries the byte offset where the reader stopped; only errors from
// reading a whole text show it (`JsonDocument::with_position`). Errors of members of an already
// parsed command are shown without position (`err.message`).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ostrel-core/result.h"

namespace ostrel::store {

struct JsonError {
  std::string message;
  std::size_t offset = 0;  // byte offset just after the offending token
};

enum class Duplicates : std::uint8_t { LastWins, Reject };

class JsonDocument;

// The T of a Result<T, E>.
template <class R>
struct result_value;
template <class T, class E>
struct result_value<Result<T, E>> {
  using type = T;
};
template <class R>
using result_value_t = typename result_value<std::remove_cvref_t<R>>::type;

// A view of one value inside a JsonDocument; cheap to copy, valid while the document lives.
class JsonValue {
 public:
  enum class Type : std::uint8_t { Null, Bool, Int, UInt, Float, String, Array, Object };

  JsonValue() = default;
  Type type() const;
  bool is_null() const { return type() == Type::Null; }
  bool is_bool() const { return type() == Type::Bool; }
  bool is_string() const { return type() == Type::String; }
  bool is_number() const {
    return type() == Type::Int || type() == Type::UInt || type() == Type::Float;
  }
  // A number written without fraction or exponent (and within the 64-bit integer ranges).
  bool is_integer() const { return type() == Type::Int || type() == Type::UInt; }
  bool is_array() const { return type() == Type::Array; }
  bool is_object() const { return type() == Type::Object; }

  // Elements of an array or members of an object (duplicates included).
  std::size_t size() const;
  JsonValue index(std::size_t i) const;       // array element i (i < size())
  std::string_view key(std::size_t i) const;  // object member i's name
  JsonValue member(std::size_t i) const;      // object member i's value
  // Whether member i is superseded by a later member with the same name.
  bool shadowed(std::size_t i) const;
  // The last member with this name, if any (objects only).
  std::optional<JsonValue> field(std::string_view name) const;

  // A flat record read in one pass, for the hot record kinds: true when this is an array of
  // exactly names.size() numbers, or an object with exactly those members in that order, whose
  // first value is an integer literal within i64 and whose others are numbers. `rest` receives
  // the others as f64. False (outputs unspecified) for any other shape: the caller then decodes
  // the general way, which owns the messages.
  bool flat_numbers(std::span<const std::string_view> names, std::int64_t& first,
                    std::span<double> rest) const;

  // Raw accessors (check the type first).
  bool as_bool() const;
  std::string_view as_string() const;

  // Typed getters with the reader's messages ("invalid type: ..., expected f64").
  Result<double, JsonError> f64() const;         // any number
  Result<std::int64_t, JsonError> i64() const;   // integer literal within i64
  Result<std::uint64_t, JsonError> u64() const;  // non-negative integer literal
  Result<bool, JsonError> boolean() const;
  Result<std::string, JsonError> string() const;

  // "integer `5`", "string \"x\"", "map", ...: how a value is named in type errors.
  std::string describe() const;
  JsonError invalid_type(std::string_view expected) const;
  std::size_t end_offset() const;
  std::size_t key_end_offset() const;  // after the member name, for object members
  const JsonDocument* document() const { return doc_; }

 private:
  friend class JsonDocument;
  JsonValue(const JsonDocument* doc, std::uint32_t node) : doc_(doc), node_(node) {}
  const JsonDocument* doc_ = nullptr;
  std::uint32_t node_ = 0;
};

// One parsed text. Parsing validates the whole text (UTF-8, syntax, only whitespace after the
// value), keeps integer and fraction literals apart, rounds numbers correctly and refuses
// nesting deeper than kMaxDepth with an error instead of exhausting the stack.
class JsonDocument {
 public:
  static constexpr std::size_t kMaxDepth = 128;

  // A syntax error's message already carries " at line L column C".
  static Result<std::unique_ptr<JsonDocument>, std::string> parse(std::string_view text,
                                                                  Duplicates dups);

  JsonValue root() const;
  Duplicates duplicates() const { return dups_; }
  // message + " at line L column C" for the error's offset.
  std::string with_position(const JsonError& e) const;

  // 32 bytes: texts reach hundreds of megabytes, so a parsed value must stay small.
  struct Span {
    std::uint32_t first, count;  // String: bytes in strings_; Array/Object: children in nodes_
  };
  struct Node {
    JsonValue::Type type = JsonValue::Type::Null;
    union {
      bool b;
      std::int64_t i;
      std::uint64_t u;
      double d;
      Span span;
    };
    std::uint32_t key_off = 0, key_len = 0;  // member name in strings_ (object members)
    std::uint32_t end = 0;                   // offset just after the value in the text
    std::uint32_t key_end = 0;               // offset just after the member name
  };

 private:
  friend struct NodeAccess;
  friend struct DocBuilder;
  JsonDocument() = default;
  std::string text_;         // the input as read (see parse), for positions
  std::string strings_;      // every decoded string and member name
  std::vector<Node> nodes_;  // children before parents; the root is last
  Duplicates dups_ = Duplicates::LastWins;
};

// "unknown variant `x`, expected one of `a`, `b`" (or "expected `a`" / "expected `a` or `b`").
JsonError unknown_variant(std::string_view got, std::span<const std::string_view> names,
                          std::size_t offset);

// "data did not match any variant of untagged enum {name}": for values that may take one of
// several shapes, after every shape was tried.
JsonError no_variant_matched(std::string_view enum_name, JsonValue v);

// Reads a string naming one of `names`; returns its index. `enum_name` shows in type errors
// ("invalid type: integer `1`, expected enum Side").
Result<std::size_t, JsonError> decode_enum(JsonValue v, std::string_view enum_name,
                                           std::span<const std::string_view> names);
// The same, with "expected variant identifier" in type errors.
Result<std::size_t, JsonError> decode_enum(JsonValue v, std::span<const std::string_view> names);

// Decodes every element of an array with `fn`.
template <class F>
auto decode_list(JsonValue v, F&& fn)
    -> Result<std::vector<result_value_t<std::invoke_result_t<F&, JsonValue>>>, JsonError>;

// Decodes a record written as an object (members by name, in any order, unknown members ignored)
// or as an array of the member values in declaration order. The array form needs at least
// `min_len` elements (the rest take their defaults) and at most one per declared member. Members
// read with a required getter (f64, record, ...) must be present; opt_* getters and `get`
// accept absence.
// Getters return a default on failure and remember the first error; `finish()` reports it,
// type errors before missing members, the way a single pass over the text would.
class RecordReader {
 public:
  RecordReader(JsonValue v, std::string_view expecting, std::span<const std::string_view> fields,
               std::size_t min_len);
  RecordReader(JsonValue v, std::string_view expecting, std::span<const std::string_view> fields)
      : RecordReader(v, expecting, fields, fields.size()) {}
  // Object form only: for the variant body of a tagged record (the tag member is skipped).
  static RecordReader object_only(JsonValue v, std::string_view expecting,
                                  std::span<const std::string_view> fields);

  // The member's value (none when absent); does not record anything.
  std::optional<JsonValue> get(std::size_t i) const {
    return i < fields_.size() ? slots_[i] : std::nullopt;
  }
  // The member's value; when absent, records "missing field `x`".
  std::optional<JsonValue> require(std::size_t i);

  double f64(std::size_t i) { return take(i, &JsonValue::f64, 0.0); }
  std::int64_t i64(std::size_t i) { return take(i, &JsonValue::i64, std::int64_t{0}); }
  std::uint64_t u64(std::size_t i) { return take(i, &JsonValue::u64, std::uint64_t{0}); }
  bool boolean(std::size_t i) { return take(i, &JsonValue::boolean, false); }
  std::string string(std::size_t i) { return take(i, &JsonValue::string, std::string{}); }

  // Absent or null -> none.
  std::optional<double> opt_f64(std::size_t i) { return take_opt(i, &JsonValue::f64); }
  std::optional<std::int64_t> opt_i64(std::size_t i) { return take_opt(i, &JsonValue::i64); }
  std::optional<std::uint64_t> opt_u64(std::size_t i) { return take_opt(i, &JsonValue::u64); }
  std::optional<std::string> opt_string(std::size_t i) { return take_opt(i, &JsonValue::string); }

  // Any decoder `Result<T, JsonError>(JsonValue)` on a required member.
  template <class F>
  auto record(std::size_t i, F&& fn) {
    using T = result_value_t<std::invoke_result_t<F&, JsonValue>>;
    auto v = require(i);
    if (!v) return T{};
    return keep(fn(*v), T{});
  }
  template <class F>
  auto list(std::size_t i, F&& fn) {
    return record(i, [&](JsonValue v) { return decode_list(v, fn); });
  }
  // Absent or null -> none.
  template <class F>
  auto opt_record(std::size_t i, F&& fn) {
    using T = result_value_t<std::invoke_result_t<F&, JsonValue>>;
    auto v = get(i);
    if (!v || v->is_null()) return std::optional<T>{};
    return std::optional<T>(keep(fn(*v), T{}));
  }
  template <class F>
  auto opt_list(std::size_t i, F&& fn) {
    return opt_record(i, [&](JsonValue v) { return decode_list(v, fn); });
  }

  // Records an error found by the caller (kept only if it is the first).
  void error(JsonError e);
  bool ok() const { return !shape_error_ && !type_error_ && !missing_; }
  // The first error: shape (not a record, bad length, duplicate), then type, then missing.
  std::optional<JsonError> finish() const;

 private:
  RecordReader() = default;
  void open(JsonValue v, bool allow_array);
  template <class T>
  T keep(Result<T, JsonError> r, T fallback) {
    if (r) return std::move(*r);
    error(std::move(r.error()));
    return fallback;
  }
  template <class T>
  T take(std::size_t i, Result<T, JsonError> (JsonValue::*get)() const, T fallback) {
    auto v = require(i);
    if (!v) return fallback;
    return keep(((*v).*get)(), std::move(fallback));
  }
  template <class T>
  std::optional<T> take_opt(std::size_t i, Result<T, JsonError> (JsonValue::*getter)() const) {
    auto v = get(i);
    if (!v || v->is_null()) return std::nullopt;
    auto r = ((*v).*getter)();
    if (r) return std::move(*r);
    error(std::move(r.error()));
    return std::nullopt;
  }

  JsonValue value_;
  std::string_view expecting_;
  std::span<const std::string_view> fields_;
  std::size_t min_len_ = 0;
  // Fixed capacity: a record is decoded per candle, and a heap block per record would dominate.
  static constexpr std::size_t kMaxFields = 16;
  std::array<std::optional<JsonValue>, kMaxFields> slots_{};
  std::optional<JsonError> shape_error_, type_error_, missing_;
};

}  // namespace ostrel::store

namespace ostrel::store {

template <class F>
auto decode_list(JsonValue v, F&& fn)
    -> Result<std::vector<result_value_t<std::invoke_result_t<F&, JsonValue>>>, JsonError> {
  using T = result_value_t<std::invoke_result_t<F&, JsonValue>>;
  if (!v.is_array()) return v.invalid_type("a sequence");
  std::vector<T> out;
  out.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    auto r = fn(v.index(i));
    if (!r) return std::move(r.error());
    out.push_back(std::move(*r));
  }
  return out;
}

}  // namespace ostrel::store
