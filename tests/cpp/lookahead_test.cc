// No feature may depend on a later candle: only labels look ahead. Every registered indicator is
// replayed over a series and over the same series with everything after step i replaced, and its
// outputs up to step i must agree bit for bit. The altered series is replayed first, to the end,
// so an indicator that keeps data anywhere beyond its own instance would show it here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "feature-store-core/build.h"
#include "ostrel-core/registry.h"
#include "test_support.h"

namespace ostrel {
namespace {

using testing::Step;

constexpr std::size_t kSteps = 320;

const std::vector<Step>& base_walk() {
  static const std::vector<Step> w = testing::random_walk(kSteps);
  return w;
}

// A different path: other prices, other feeds, other timestamps.
const std::vector<Step>& other_walk() {
  static const std::vector<Step> w = testing::random_walk(kSteps, 977);
  return w;
}

// Copy of `base` whose steps after i come from `other`.
std::vector<Step> altered_after(const std::vector<Step>& base, const std::vector<Step>& other,
                                std::size_t i) {
  std::vector<Step> out(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(i + 1));
  out.insert(out.end(), other.begin() + static_cast<std::ptrdiff_t>(i + 1), other.end());
  return out;
}

// Builds an evaluator meant to be replayed over `series`.
using Maker = std::function<EvaluatorPtr(const std::vector<Step>& series)>;

// The first step at or before i whose output changes when the steps after i change.
std::optional<std::size_t> first_leak(const Maker& make, std::size_t i) {
  const auto& base = base_walk();
  const auto altered = altered_after(base, other_walk(), i);
  auto a = make(altered);
  const auto alt = testing::replay(*a, altered);
  auto b = make(base);
  const auto orig = testing::replay(*b, base);
  for (std::size_t k = 0; k <= i; ++k)
    if (!testing::same(alt[k], orig[k])) return k;
  return std::nullopt;
}

// Cut points around the end of warm-up, where windowed state is most delicate.
std::vector<std::size_t> cut_points(std::size_t warmup) {
  std::vector<std::size_t> cuts = {0, kSteps / 2, kSteps - 2};
  if (warmup >= 1) cuts.push_back(warmup - 1);
  cuts.push_back(warmup);
  cuts.push_back(warmup + 17);
  std::erase_if(cuts, [](std::size_t c) { return c + 1 >= kSteps; });
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  return cuts;
}

class LookAhead : public ::testing::TestWithParam<const FamilyEntry*> {};

TEST_P(LookAhead, FeaturesIgnoreLaterCandles) {
  const FamilyEntry& e = *GetParam();
  const Maker make = [&e](const std::vector<Step>&) -> EvaluatorPtr {
    auto r = Registry::instance().build(e.name, e.example.values());
    return r ? std::move(r).value() : nullptr;
  };
  auto probe = make(base_walk());
  ASSERT_TRUE(probe) << e.name << " does not build with its example parameters";
  for (std::size_t i : cut_points(probe->warmup_period())) {
    const auto leak = first_leak(make, i);
    EXPECT_FALSE(leak.has_value()) << e.name << ": output at step " << *leak
                                   << " changes when the steps after " << i << " change";
  }
}

std::vector<const FamilyEntry*> all_entries() {
  std::vector<const FamilyEntry*> v;
  for (const auto& e : Registry::instance().entries()) v.push_back(&e);
  return v;
}

INSTANTIATE_TEST_SUITE_P(Registered, LookAhead, ::testing::ValuesIn(all_entries()),
                         [](const auto& info) { return std::string(info.param->name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LookAhead);

// The check itself must catch a feature that peeks: this one answers the next step's close from
// a reference to the stored series, the mistake a batch-style implementation would make.
class PeekingClose final : public Evaluator {
 public:
  explicit PeekingClose(const std::vector<Step>& series) : series_(series) {}
  std::optional<double> update(const StepContext&) override {
    const std::size_t next = std::min(at_++ + 1, series_.size() - 1);
    return series_[next].candle.close;
  }
  std::span<const double> extras() const override { return {}; }
  std::size_t warmup_period() const override { return 1; }
  InputKind input_kind() const override { return InputKind::Close; }

 private:
  const std::vector<Step>& series_;
  std::size_t at_ = 0;
};

TEST(LookAheadCheck, CatchesAFeatureThatPeeks) {
  const Maker make = [](const std::vector<Step>& s) -> EvaluatorPtr {
    return std::make_unique<PeekingClose>(s);
  };
  for (std::size_t i : {std::size_t{0}, std::size_t{100}}) {
    const auto leak = first_leak(make, i);
    ASSERT_TRUE(leak.has_value()) << "cut " << i;
    EXPECT_EQ(*leak, i);
  }
}

// The same through a whole build: every registered indicator (its value and each of its extras)
// and every candle field as feature columns over a symbol with every feed. Rows up to step i keep
// their feature cells bit for bit when the steps after i change, while a forward-return label of
// row i does see the change: labels are the one place that looks ahead.

store::SymbolSeries series_of(const std::vector<Step>& steps) {
  store::SymbolSeries s;
  s.reference.emplace();
  s.derivs.emplace();
  s.books.emplace();
  s.trades.emplace();
  s.sections.emplace();
  for (const Step& st : steps) {
    s.candles.push_back(st.candle);
    const double r = st.reference;
    s.reference->push_back({st.candle.ts, r, r, r, r, 0});
    s.derivs->push_back(st.deriv);
    s.books->push_back(st.book);
    s.trades->push_back(st.trades);
    s.sections->push_back(st.section);
  }
  return s;
}

store::FeatureSpec everything_spec() {
  using store::Feature;
  store::FeatureSpec spec;
  spec.universe = {"S"};
  for (auto field : {store::PriceField::Open, store::PriceField::High, store::PriceField::Low,
                     store::PriceField::Close, store::PriceField::Volume}) {
    Feature f;
    f.kind = Feature::Kind::Price;
    f.price_field = field;
    f.column = "price." + std::to_string(static_cast<int>(field));
    spec.features.push_back(f);
  }
  for (const auto& e : Registry::instance().entries()) {
    Feature f;
    f.kind = Feature::Kind::Indicator;
    f.name = std::string(e.name);
    f.params.assign(e.example.values().begin(), e.example.values().end());
    f.key = f.name;  // one evaluator per name, shared by its extras
    f.column = f.name;
    spec.features.push_back(f);
    for (std::string_view extra : Registry::instance().info(e.name)->extras) {
      f.field = std::string(extra);
      f.column = f.name + "." + *f.field;
      spec.features.push_back(f);
    }
  }
  store::Label fwd;
  fwd.kind = store::Label::Kind::ForwardReturn;
  fwd.horizon = 1;
  spec.labels = {fwd};
  return spec;
}

store::FeatureTable build_one(const std::vector<Step>& steps, const store::FeatureSpec& spec) {
  store::Universe u;
  u.insert("S", series_of(steps));
  auto r = store::build_table(u, spec);
  EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().display());
  return r ? std::move(r).value() : store::FeatureTable{};
}

TEST(LookAheadBuild, FeatureCellsIgnoreLaterSteps) {
  const store::FeatureSpec spec = everything_spec();
  const std::size_t features = spec.features.size();
  const auto& base = base_walk();
  const store::FeatureTable orig = build_one(base, spec);
  ASSERT_EQ(orig.rows, kSteps);
  for (std::size_t i : {std::size_t{0}, std::size_t{40}, std::size_t{150}, kSteps - 2}) {
    const store::FeatureTable alt = build_one(altered_after(base, other_walk(), i), spec);
    ASSERT_EQ(alt.rows, kSteps);
    for (std::size_t r = 0; r <= i; ++r)
      for (std::size_t c = 0; c < features; ++c)
        ASSERT_TRUE(testing::same_bits(orig.row(r)[c], alt.row(r)[c]))
            << spec.features[c].column << " of row " << r
            << " changes when the steps after " << i << " change";
    EXPECT_FALSE(testing::same_bits(orig.row(i)[features], alt.row(i)[features]))
        << "the label of row " << i << " should see the next step";
  }
}

}  // namespace
}  // namespace ostrel
