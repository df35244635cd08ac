// The parameter text rule and the derived names of features and labels.

#include "feature-store-core/spec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::store {
namespace {

TEST(SpecNames, ParameterText) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    double x;
    const char* want;
  } cases[] = {
      {14, "14"},
      {-3, "-3"},
      {-0.0, "0"},
      {2.5, "2.5"},
      {0.0000001, "0.0000001"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e15 + 0.5, "1000000000000000.5"},
      {1e300, "9223372036854775807"},
      {-1e300, "-9223372036854775808"},
      {9223372036854775808.0, "9223372036854775807"},
      {-9223372036854775808.0, "-9223372036854775808"},
      {9223372036854774784.0, "9223372036854774784"},  // largest double below 2^63
      {std::nan(""), "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(param_text(c.x), c.want) << c.want;
  // The smallest subnormal, positionally: 323 zeros after the point.
  EXPECT_EQ(param_text(5e-324), "0." + std::string(323, '0') + "5");
}

Feature feature(Feature::Kind kind, std::string name, std::vector<double> params,
                std::optional<std::string> field = std::nullopt) {
  Feature f;
  f.kind = kind;
  f.name = std::move(name);
  f.params = std::move(params);
  f.field = std::move(field);
  return f;
}

Label label(Label::Kind kind, std::uint64_t horizon, bool log = false, double up = 0,
            double down = 0) {
  Label l;
  l.kind = kind;
  l.horizon = horizon;
  l.log = log;
  l.up = up;
  l.down = down;
  return l;
}

TEST(SpecNames, KeysAndColumns) {
  const Feature sma = feature(Feature::Kind::Indicator, "Sma", {14});
  const Feature bands = feature(Feature::Kind::Indicator, "BollingerBands", {20, 2.5}, "upper");
  const Feature obv = feature(Feature::Kind::Indicator, "Obv", {});
  const Feature ms = feature(Feature::Kind::Microstructure, "Spread", {1, 0.5});
  Feature price = feature(Feature::Kind::Price, "", {});
  price.price_field = PriceField::Volume;
  EXPECT_EQ(evaluator_key(sma), "Sma(14)");
  EXPECT_EQ(column_name(sma), "Sma(14)");
  EXPECT_EQ(evaluator_key(bands), "BollingerBands(20,2.5)");
  EXPECT_EQ(column_name(bands), "BollingerBands(20,2.5).upper");
  EXPECT_EQ(column_name(obv), "Obv()");
  EXPECT_EQ(evaluator_key(ms), "Spread(1,0.5)");
  EXPECT_EQ(column_name(ms), "ms.Spread(1,0.5)");
  EXPECT_EQ(evaluator_key(price), "");
  EXPECT_EQ(column_name(price), "price.volume");

  const Label fwd = label(Label::Kind::ForwardReturn, 5);
  const Label fwd_log = label(Label::Kind::ForwardReturn, 18446744073709551615ULL, true);
  const Label tb = label(Label::Kind::TripleBarrier, 10, false, 0.02, 1);
  EXPECT_EQ(column_name(fwd), "fwd_return(5)");
  EXPECT_EQ(column_name(fwd_log), "fwd_log_return(18446744073709551615)");
  EXPECT_EQ(column_name(tb), "tb(10,0.02,1)");
}

TEST(SpecNames, DecodedFeaturesCarryTheirNames) {
  auto spec = parse_spec(
      R"({"universe":["A"],"features":[{"kind":"indicator","name":"Sma","params":[14.0]},)"
      R"({"kind":"microstructure","metric":"Spread"},{"kind":"price","field":"open"}],)"
      R"("labels":[{"kind":"triple_barrier","horizon":3,"up":0.5,"down":-0}]})");
  ASSERT_TRUE(spec) << spec.error().display();
  EXPECT_EQ(spec->features[0].key, "Sma(14)");
  EXPECT_EQ(spec->features[1].column, "ms.Spread()");
  EXPECT_EQ(spec->features[2].column, "price.open");
  EXPECT_EQ(spec->labels[0].column, "tb(3,0.5,0)");
  EXPECT_EQ(spec->output, OutputFormat::Json);
  EXPECT_EQ(spec->warmup, WarmupPolicy::Nan);
  EXPECT_FALSE(spec->window);
  EXPECT_FALSE(spec->scaling);
}

}  // namespace
}  // namespace ostrel::store
