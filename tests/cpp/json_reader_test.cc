// The JSON reader: syntax errors with positions, number literals, nesting limits and the
// record-decoding messages the store shows.

#include "feature-store-core/json_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace ostrel::store {
namespace {

std::unique_ptr<JsonDocument> parse_ok(std::string_view text, Duplicates d = Duplicates::LastWins) {
  auto r = JsonDocument::parse(text, d);
  EXPECT_TRUE(r) << text << ": " << (r ? "" : r.error());
  return r ? std::move(*r) : nullptr;
}

std::string parse_error(std::string_view text) {
  auto r = JsonDocument::parse(text, Duplicates::LastWins);
  return r ? "(parsed)" : r.error();
}

TEST(JsonReader, SyntaxErrorsCarryTheOffendingCharactersPosition) {
  struct Case {
    const char* id;
    std::string text;
    std::string want;
  } cases[] = {
      {"trailing x counts the x", R"({"cmd":"version"} x)",
       "trailing characters at line 1 column 19"},
      {"second line", "[1,\n  x]", "expected value at line 2 column 3"},
      {"crlf line ends", "[1,\r\n x]", "expected value at line 2 column 2"},
      {"multibyte characters count once", "[\"\xc3\xa9\xc3\xa9\", x]",
       "expected value at line 1 column 8"},
      {"nul byte after the value", std::string("{}\0{}", 5),
       "trailing characters at line 1 column 3"},
      {"nul byte inside a string", std::string("\"a\0\"", 4), "(error)"},
      {"unterminated object", "{", "EOF while parsing a value at line 1 column 1"},
      {"empty text", "", "EOF while parsing a value at line 1 column 0"},
      {"two values", "1 2", "trailing characters at line 1 column 3"},
      {"lone surrogate", R"(["\ud800"])", "(error)"},
      {"invalid utf-8", "\"\xff\"", "(error)"},
      {"text ends inside a 4-byte character", "{\"s\xf3", "(error)"},
      {"text ends inside a 3-byte character", "[\"\xe2\x82", "(error)"},
      {"nan literal", "[NaN]", "(error)"},
      {"leading zero", "[01]", "(error)"},
      {"raw control character", "\"a\tb\"", "(error)"},
      {"overflowing number", "[1e400]", "number out of range at line 1 column 2"},
      // Strings are decoded over their own bytes: an escaped line break or character must not
      // move the positions counted after it.
      {"escapes before the error", R"(["a\nb\u00e9", x])", "expected value at line 1 column 16"},
  };
  for (const auto& c : cases) {
    const std::string got = parse_error(c.text);
    if (c.want == "(error)")
      EXPECT_NE(got, "(parsed)") << c.id;
    else
      EXPECT_EQ(got, c.want) << c.id;
  }
}

TEST(JsonReader, WhitespaceAfterTheValueIsAccepted) {
  EXPECT_TRUE(JsonDocument::parse("{\"cmd\":\"version\"}  \n\t\r\n ", Duplicates::LastWins));
}

TEST(JsonReader, NumbersKeepTheirLiteralKindAndRoundCorrectly) {
  auto doc = parse_ok(
      "[5, -7, 9223372036854775807, 9223372036854775808, 18446744073709551616, 2.5, 1e2, -0, "
      "0.1, 2.2250738585072011e-308, 9007199254740993, 1e-400, -1e-400, 4.9e-324, "
      "0.30000000000000004441, 1.7976931348623157e308]");
  ASSERT_TRUE(doc);
  JsonValue a = doc->root();
  using T = JsonValue::Type;
  struct Case {
    std::size_t i;
    T type;
    double value;
  } cases[] = {
      {0, T::Int, 5},
      {1, T::Int, -7},
      {2, T::Int, 9223372036854775807.0},
      {3, T::UInt, 9223372036854775808.0},
      {4, T::Float, 18446744073709551616.0},  // beyond u64: the nearest double
      {5, T::Float, 2.5},
      {6, T::Float, 100},   // an exponent makes it a fraction literal
      {7, T::Float, -0.0},  // keeps its sign
      {8, T::Float, 0.1},
      {9, T::Float, 2.2250738585072011e-308},
      {10, T::Int, 9007199254740992.0},  // as f64: ties to even
      {11, T::Float, 0.0},
      {12, T::Float, -0.0},
      {13, T::Float, 4.9e-324},
      {14, T::Float, 0.30000000000000004},
      {15, T::Float, 1.7976931348623157e308},
  };
  for (const auto& c : cases) {
    JsonValue v = a.index(c.i);
    EXPECT_EQ(v.type(), c.type) << c.i;
    auto f = v.f64();
    ASSERT_TRUE(f) << c.i;
    EXPECT_EQ(*f, c.value) << c.i;
    EXPECT_EQ(std::signbit(*f), std::signbit(c.value)) << c.i;
  }
  EXPECT_EQ(*a.index(2).i64(), INT64_MAX);
  EXPECT_EQ(a.index(3).i64().error().message,
            "invalid value: integer `9223372036854775808`, expected i64");
  EXPECT_EQ(*a.index(3).u64(), 9223372036854775808ULL);
  EXPECT_EQ(a.index(1).u64().error().message, "invalid value: integer `-7`, expected u64");
  EXPECT_EQ(a.index(5).u64().error().message, "invalid type: floating point `2.5`, expected u64");
  EXPECT_EQ(a.index(7).u64().error().message, "invalid type: floating point `-0.0`, expected u64");
  EXPECT_EQ(a.index(6).i64().error().message, "invalid type: floating point `100.0`, expected i64");
}

// Every decimal literal, short or long, reads as the correctly rounded double (the one the
// standard conversion gives), with its sign, whatever path the reader takes for it.
TEST(JsonReader, DecimalLiteralsMatchTheStandardConversion) {
  std::mt19937_64 rng(7);
  std::vector<std::string> lits = {"0.0", "-0.0", "0.1", "101.25", "999999999999999",
                                    "99999999999999.9", "0.000000000000001", "9999999999999999.5",
                                    "1234567890123456.7", "0.30000000000000004", "-1.5e0"};
  for (int k = 0; k < 4000; ++k) {
    std::string t = rng() % 4 == 0 ? "-" : "";
    const std::size_t int_digits = 1 + rng() % 12, frac_digits = 1 + rng() % 12;
    for (std::size_t i = 0; i < int_digits; ++i)
      t += static_cast<char>('0' + (i == 0 && int_digits > 1 ? 1 + rng() % 9 : rng() % 10));
    t += '.';
    for (std::size_t i = 0; i < frac_digits; ++i) t += static_cast<char>('0' + rng() % 10);
    lits.push_back(t);
  }
  std::string text = "[";
  for (std::size_t i = 0; i < lits.size(); ++i) {
    if (i) text += ',';
    text += lits[i];
  }
  text += ']';
  auto doc = parse_ok(text);
  ASSERT_TRUE(doc);
  for (std::size_t i = 0; i < lits.size(); ++i) {
    double want = 0;
    std::from_chars(lits[i].data(), lits[i].data() + lits[i].size(), want);
    const double got = *doc->root().index(i).f64();
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << lits[i];
  }
}

TEST(JsonReader, NestingIsBounded) {
  const std::size_t max = JsonDocument::kMaxDepth;
  EXPECT_TRUE(
      JsonDocument::parse(std::string(max, '[') + std::string(max, ']'), Duplicates::LastWins));
  const std::string too_deep = parse_error(std::string(max + 1, '[') + std::string(max + 1, ']'));
  EXPECT_EQ(too_deep.rfind("recursion limit exceeded at line 1 column", 0), 0u) << too_deep;
  // Far beyond any stack: must be an error, not a crash.
  EXPECT_NE(parse_error(std::string(2'000'000, '[')), "(parsed)");
  EXPECT_NE(parse_error(std::string(1'000'000, '{').insert(1, "\"a\":")), "(parsed)");
}

TEST(JsonReader, DuplicateMembersLastWinsOrRejected) {
  auto doc = parse_ok(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(doc);
  EXPECT_EQ(*doc->root().field("a")->i64(), 3);
  EXPECT_EQ(doc->root().size(), 3u);
  EXPECT_TRUE(doc->root().shadowed(0));
  EXPECT_FALSE(doc->root().shadowed(2));

  static constexpr std::string_view kFields[] = {"a", "b"};
  {
    RecordReader r(doc->root(), "struct AB", kFields);
    EXPECT_EQ(r.i64(0), 3);
    EXPECT_FALSE(r.finish());
  }
  auto strict = parse_ok("{\"a\":1,\n\"b\":2,\"a\":3}", Duplicates::Reject);
  ASSERT_TRUE(strict);
  RecordReader r(strict->root(), "struct AB", kFields);
  auto e = r.finish();
  ASSERT_TRUE(e);
  EXPECT_EQ(strict->with_position(*e), "duplicate field `a` at line 2 column 9");
  // Positions taken after the parse still count over the text as written.
  auto escaped = parse_ok(R"({"s":"\n","a":1,"a":2})", Duplicates::Reject);
  ASSERT_TRUE(escaped);
  auto e2 = RecordReader(escaped->root(), "struct AB", kFields).finish();
  ASSERT_TRUE(e2);
  EXPECT_EQ(escaped->with_position(*e2), "duplicate field `a` at line 1 column 19");
  // Unknown members may repeat freely.
  auto extra = parse_ok(R"({"a":1,"b":2,"z":1,"z":2})", Duplicates::Reject);
  RecordReader ok(extra->root(), "struct AB", kFields);
  EXPECT_FALSE(ok.finish());
}

// Decodes {x: f64, n: i64, s: string, o: optional f64} from objects or arrays (min 3 elements).
std::string decode(std::string_view text) {
  auto doc = JsonDocument::parse(text, Duplicates::LastWins);
  if (!doc) return "syntax: " + doc.error();
  static constexpr std::string_view kFields[] = {"x", "n", "s", "o"};
  RecordReader r((*doc)->root(), "struct Rec", kFields, 3);
  const double x = r.f64(0);
  const std::int64_t n = r.i64(1);
  const std::string s = r.string(2);
  const std::optional<double> o = r.opt_f64(3);
  if (auto e = r.finish()) return e->message;
  std::string out = std::to_string(x) + "," + std::to_string(n) + "," + s;
  if (o) {
    out += ',';
    out += std::to_string(*o);
  }
  return out;
}

TEST(JsonReader, RecordMessages) {
  struct Case {
    const char* id;
    const char* text;
    const char* want;
  } cases[] = {
      {"object", R"({"s":"a","n":2,"x":1.5,"zz":null})", "1.500000,2,a"},
      {"array", R"([1.5,2,"a"])", "1.500000,2,a"},
      {"array with optional", R"([1.5,2,"a",4])", "1.500000,2,a,4.000000"},
      {"null optional", R"({"x":1,"n":2,"s":"a","o":null})", "1.000000,2,a"},
      {"missing", R"({"x":1,"s":"a"})", "missing field `n`"},
      {"type error before missing", R"({"s":5})", "invalid type: integer `5`, expected a string"},
      {"fraction for integer", R"({"x":1,"n":1.5,"s":"a"})",
       "invalid type: floating point `1.5`, expected i64"},
      {"bool for number", R"({"x":true,"n":1,"s":"a"})",
       "invalid type: boolean `true`, expected f64"},
      {"null for required", R"({"x":null,"n":1,"s":"a"})", "invalid type: null, expected f64"},
      {"string quoting", R"({"x":"a\"b","n":1,"s":"a"})",
       R"(invalid type: string "a\"b", expected f64)"},
      {"short array", "[1,2]", "invalid length 2, expected struct Rec with 4 elements"},
      {"long array", R"([1,2,"a",4,5])", "invalid length 5, expected fewer elements in array"},
      {"not a record", "5", "invalid type: integer `5`, expected struct Rec"},
      {"map", R"({"x":{},"n":1,"s":"a"})", "invalid type: map, expected f64"},
      {"sequence", R"({"x":[],"n":1,"s":"a"})", "invalid type: sequence, expected f64"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.text), c.want) << c.id;
}

TEST(JsonReader, VariantMessages) {
  auto doc = parse_ok(R"(["vwap", 3])");
  static constexpr std::string_view kOne[] = {"a"};
  static constexpr std::string_view kTwo[] = {"a", "b"};
  static constexpr std::string_view kThree[] = {"open", "high", "low"};
  EXPECT_EQ(decode_enum(doc->root().index(0), "E", kOne).error().message,
            "unknown variant `vwap`, expected `a`");
  EXPECT_EQ(decode_enum(doc->root().index(0), "E", kTwo).error().message,
            "unknown variant `vwap`, expected `a` or `b`");
  EXPECT_EQ(decode_enum(doc->root().index(0), "E", kThree).error().message,
            "unknown variant `vwap`, expected one of `open`, `high`, `low`");
  EXPECT_EQ(decode_enum(doc->root().index(1), "Side", kTwo).error().message,
            "invalid type: integer `3`, expected enum Side");
  EXPECT_EQ(no_variant_matched("SymbolInputDoc", doc->root()).message,
            "data did not match any variant of untagged enum SymbolInputDoc");
}

TEST(JsonReader, ListsAndNestedRecords) {
  auto doc = parse_ok(R"({"xs":[1,2.5,-3],"bad":[1,"a"]})");
  auto f64 = [](JsonValue v) { return v.f64(); };
  auto xs = decode_list(*doc->root().field("xs"), f64);
  ASSERT_TRUE(xs);
  EXPECT_EQ(*xs, (std::vector<double>{1, 2.5, -3}));
  EXPECT_EQ(decode_list(*doc->root().field("bad"), f64).error().message,
            R"(invalid type: string "a", expected f64)");
  EXPECT_EQ(decode_list(doc->root(), f64).error().message,
            "invalid type: map, expected a sequence");
}

}  // namespace
}  // namespace ostrel::store
