#include "spec.h"

#include <array>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "json_reader.h"
#include "ostrel-core/number_text.h"
#include "ostrel-core/registry.h"

namespace ostrel::store {

namespace {

constexpr std::string_view kOutputNames[] = {"json", "csv", "arrow", "parquet"};
constexpr std::string_view kScalingNames[] = {"z_score", "min_max"};
constexpr std::string_view kWarmupNames[] = {"nan", "skip"};
constexpr std::string_view kPriceNames[] = {"open", "high", "low", "close", "volume"};
constexpr std::string_view kFeatureKinds[] = {"indicator", "price", "microstructure"};
constexpr std::string_view kLabelKinds[] = {"forward_return", "triple_barrier"};

template <class E, std::size_t N>
Result<E, JsonError> read_enum(JsonValue v, std::string_view name,
                               const std::string_view (&names)[N]) {
  auto i = decode_enum(v, name, names);
  if (!i) return std::move(i.error());
  return static_cast<E>(*i);
}

Result<std::string, JsonError> read_string(JsonValue v) { return v.string(); }
Result<double, JsonError> read_f64(JsonValue v) { return v.f64(); }

// Internally tagged records: the object's `kind` member picks the variant, whose members are the
// object's other members. Errors inside the variant point at the end of the whole object, since
// the tag can only be known once the object has been read.
Result<std::size_t, JsonError> read_tag(JsonValue v, std::string_view enum_name,
                                        std::span<const std::string_view> kinds) {
  if (!v.is_object()) return v.invalid_type("internally tagged enum " + std::string(enum_name));
  std::optional<JsonValue> tag;
  for (std::size_t m = 0; m < v.size(); ++m) {
    if (v.key(m) != "kind") continue;
    if (tag && v.document()->duplicates() == Duplicates::Reject)
      return JsonError{"duplicate field `kind`", v.member(m).key_end_offset()};
    tag = v.member(m);
  }
  if (!tag) return JsonError{"missing field `kind`", v.end_offset()};
  if (!tag->is_string()) return tag->invalid_type("variant identifier");
  for (std::size_t i = 0; i < kinds.size(); ++i)
    if (kinds[i] == tag->as_string()) return i;
  return unknown_variant(tag->as_string(), kinds, tag->end_offset());
}

std::optional<JsonError> at_object_end(std::optional<JsonError> e, JsonValue v) {
  if (e) e->offset = v.end_offset();
  return e;
}

std::vector<double> read_params(RecordReader& r, std::size_t i) {
  // Absent means no parameters; null is not accepted.
  if (!r.get(i)) return {};
  return r.list(i, read_f64);
}

Result<Feature, JsonError> decode_feature(JsonValue v) {
  auto kind = read_tag(v, "Feature", kFeatureKinds);
  if (!kind) return std::move(kind.error());
  Feature f;
  f.kind = static_cast<Feature::Kind>(*kind);
  switch (f.kind) {
    case Feature::Kind::Indicator: {
      static constexpr std::string_view kFields[] = {"name", "params", "field"};
      auto r = RecordReader::object_only(v, "struct variant Feature::indicator", kFields);
      f.name = r.string(0);
      f.params = read_params(r, 1);
      f.field = r.opt_string(2);
      if (auto e = at_object_end(r.finish(), v)) return *e;
      break;
    }
    case Feature::Kind::Price: {
      static constexpr std::string_view kFields[] = {"field"};
      auto r = RecordReader::object_only(v, "struct variant Feature::price", kFields);
      f.price_field = r.record(
          0, [](JsonValue x) { return read_enum<PriceField>(x, "PriceField", kPriceNames); });
      if (auto e = at_object_end(r.finish(), v)) return *e;
      break;
    }
    case Feature::Kind::Microstructure: {
      static constexpr std::string_view kFields[] = {"metric", "params"};
      auto r = RecordReader::object_only(v, "struct variant Feature::microstructure", kFields);
      f.name = r.string(0);
      f.params = read_params(r, 1);
      if (auto e = at_object_end(r.finish(), v)) return *e;
      break;
    }
  }
  f.key = evaluator_key(f);
  f.column = column_name(f);
  return f;
}

Result<Label, JsonError> decode_label(JsonValue v) {
  auto kind = read_tag(v, "Label", kLabelKinds);
  if (!kind) return std::move(kind.error());
  Label l;
  l.kind = static_cast<Label::Kind>(*kind);
  if (l.kind == Label::Kind::ForwardReturn) {
    static constexpr std::string_view kFields[] = {"horizon", "log"};
    auto r = RecordReader::object_only(v, "struct variant Label::forward_return", kFields);
    l.horizon = r.u64(0);
    if (r.get(1)) l.log = r.boolean(1);  // absent means false; null is not accepted
    if (auto e = at_object_end(r.finish(), v)) return *e;
  } else {
    static constexpr std::string_view kFields[] = {"horizon", "up", "down"};
    auto r = RecordReader::object_only(v, "struct variant Label::triple_barrier", kFields);
    l.horizon = r.u64(0);
    l.up = r.f64(1);
    l.down = r.f64(2);
    if (auto e = at_object_end(r.finish(), v)) return *e;
  }
  l.column = column_name(l);
  return l;
}

Result<FeatureSpec, JsonError> decode_spec(JsonValue v) {
  static constexpr std::string_view kFields[] = {"universe", "timeframe", "features", "labels",
                                                 "window",   "output",    "scaling",  "warmup"};
  // The array form needs universe, timeframe and features; later members may be left off.
  RecordReader r(v, "struct FeatureSpec", kFields, 3);
  FeatureSpec s;
  s.universe = r.list(0, read_string);
  s.timeframe = r.opt_string(1);
  s.features = r.list(2, decode_feature);
  if (r.get(3)) s.labels = r.list(3, decode_label);
  s.window = r.opt_u64(4);
  if (r.get(5))
    s.output = r.record(
        5, [](JsonValue x) { return read_enum<OutputFormat>(x, "OutputFormat", kOutputNames); });
  s.scaling =
      r.opt_record(6, [](JsonValue x) { return read_enum<Scaling>(x, "Scaling", kScalingNames); });
  if (r.get(7))
    s.warmup = r.record(
        7, [](JsonValue x) { return read_enum<WarmupPolicy>(x, "WarmupPolicy", kWarmupNames); });
  if (auto e = r.finish()) return *e;
  return s;
}

}  // namespace

std::string_view to_string(OutputFormat f) { return kOutputNames[static_cast<int>(f)]; }
std::string_view to_string(Scaling s) { return kScalingNames[static_cast<int>(s)]; }
std::string_view to_string(WarmupPolicy w) { return kWarmupNames[static_cast<int>(w)]; }
std::string_view to_string(PriceField f) { return kPriceNames[static_cast<int>(f)]; }

std::string param_text(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  if (x == std::trunc(x)) {
    // 2^63 is exactly representable; everything at or beyond it saturates.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (x >= kTwo63) return std::to_string(std::numeric_limits<std::int64_t>::max());
    if (x < -kTwo63) return std::to_string(std::numeric_limits<std::int64_t>::min());
    return std::to_string(static_cast<std::int64_t>(x));  // -0.0 becomes "0"
  }
  return shortest_positional(x);
}

std::string param_list_text(const std::vector<double>& params) {
  std::string out;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i) out += ',';
    out += param_text(params[i]);
  }
  return out;
}

std::string evaluator_key(const Feature& f) {
  if (f.kind == Feature::Kind::Price) return {};
  return f.name + "(" + param_list_text(f.params) + ")";
}

std::string column_name(const Feature& f) {
  switch (f.kind) {
    case Feature::Kind::Indicator: {
      std::string key = evaluator_key(f);
      if (f.field) key += "." + *f.field;
      return key;
    }
    case Feature::Kind::Price:
      return "price." + std::string(to_string(f.price_field));
    case Feature::Kind::Microstructure:
      return "ms." + evaluator_key(f);
  }
  return {};
}

std::string column_name(const Label& l) {
  if (l.kind == Label::Kind::ForwardReturn)
    return (l.log ? "fwd_log_return(" : "fwd_return(") + std::to_string(l.horizon) + ")";
  return "tb(" + std::to_string(l.horizon) + "," + param_text(l.up) + "," + param_text(l.down) +
         ")";
}

Result<FeatureSpec, StoreError> parse_spec(std::string_view text) {
  auto doc = JsonDocument::parse(text, Duplicates::Reject);
  if (!doc) return StoreError::parse(std::move(doc.error()));
  auto spec = decode_spec((*doc)->root());
  if (!spec) return StoreError::parse((*doc)->with_position(spec.error()));
  return std::move(*spec);
}

Result<FeatureSpec, StoreError> parse_spec(const JsonValue& value) {
  auto spec = decode_spec(value);
  if (!spec) return StoreError::parse(std::move(spec.error().message));
  return std::move(*spec);
}

Status<StoreError> validate(const FeatureSpec& spec) {
  if (spec.universe.empty()) return StoreError::bad_spec("universe is empty");
  if (spec.features.empty()) return StoreError::bad_spec("features is empty");
  for (const Label& l : spec.labels)
    if (l.horizon == 0) return StoreError::bad_spec("label horizon must be > 0");
  if (spec.window && *spec.window == 0) return StoreError::bad_spec("window must be > 0");
  return Ok{};
}

Status<StoreError> trial_build(const FeatureSpec& spec) {
  std::unordered_set<std::string> built;
  std::vector<EvaluatorPtr> keep;  // released together at the end of the trial
  for (const Feature& f : spec.features) {
    if (f.kind == Feature::Kind::Price) continue;
    std::string key = evaluator_key(f);
    if (built.count(key)) continue;
    auto ev = Registry::instance().build(f.name, f.params);
    if (!ev) return StoreError::unknown_indicator(f.name + ": " + ev.error().display());
    built.insert(std::move(key));
    keep.push_back(std::move(*ev));
  }
  return Ok{};
}

Result<FeatureSpec, StoreError> accept_spec(std::string_view text) {
  auto spec = parse_spec(text);
  if (!spec) return std::move(spec.error());
  if (auto ok = validate(*spec); !ok) return std::move(ok.error());
  if (auto ok = trial_build(*spec); !ok) return std::move(ok.error());
  return std::move(*spec);
}

Result<FeatureSpec, StoreError> accept_spec(const JsonValue& value) {
  auto spec = parse_spec(value);
  if (!spec) return std::move(spec.error());
  if (auto ok = validate(*spec); !ok) return std::move(ok.error());
  if (auto ok = trial_build(*spec); !ok) return std::move(ok.error());
  return std::move(*spec);
}

}  // namespace ostrel::store
