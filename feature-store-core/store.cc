#include "store.h"

#include <array>

#include "data_commands.h"
#include "json_reader.h"

namespace ostrel::store {

namespace {

const std::string kOk = R"({"ok":true})";

Result<std::string, StoreError> cmd_version() {
  std::string out = R"({"version":")";
  out += kVersion;
  out += R"("})";
  return out;
}

}  // namespace

Result<FeatureStore, StoreError> FeatureStore::create(std::string_view spec_json) {
  auto spec = accept_spec(spec_json);
  if (!spec) return std::move(spec.error());
  return FeatureStore(std::move(*spec), make_universe());
}

Result<std::string, StoreError> FeatureStore::handle_command(std::string_view text) {
  // A command is read as a value first, so a repeated member simply replaces the earlier one.
  auto doc = JsonDocument::parse(text, Duplicates::LastWins);
  if (!doc) return StoreError::parse(std::move(doc.error()));
  const JsonValue cmd = (*doc)->root();
  std::optional<JsonValue> name = cmd.field("cmd");
  if (!name || !name->is_string()) return StoreError::bad_spec(R"(missing "cmd")");
  const std::string_view c = name->as_string();

  if (c == "version") return cmd_version();
  if (c == "set_spec") {
    auto member = required_arg(cmd, "spec");
    if (!member) return std::move(member.error());
    auto spec = accept_spec(*member);
    if (!spec) return std::move(spec.error());
    spec_ = std::move(*spec);  // the only change, after every check passed
    return kOk;
  }
  if (c == "reset") {
    clear_universe(*universe_);
    return kOk;
  }
  if (c == "push") return cmd_push(*this, cmd);
  if (c == "push_batch") return cmd_push_batch(*this, cmd);
  if (c == "build") return cmd_build(*this, cmd);
  if (c == "labels") return cmd_labels(*this, cmd);
  if (c == "build_batch") return cmd_build_batch(*this, std::move(*doc));
  return StoreError::bad_spec("unknown cmd: " + std::string(c));
}

Result<std::string, StoreError> string_arg(const JsonValue& cmd, std::string_view name) {
  auto v = cmd.field(name);
  if (!v || !v->is_string())
    return StoreError::bad_spec("missing string field \"" + std::string(name) + "\"");
  return std::string(v->as_string());
}

Result<JsonValue, StoreError> required_arg(const JsonValue& cmd, std::string_view name) {
  auto v = cmd.field(name);
  if (!v) return StoreError::bad_spec("missing field \"" + std::string(name) + "\"");
  return *v;
}

Result<OutputFormat, StoreError> select_format(const FeatureSpec& spec, const JsonValue& cmd) {
  OutputFormat f = spec.output;
  if (auto v = cmd.field("format"); v && v->is_string()) {
    const std::string_view s = v->as_string();
    if (s == "json") {
      f = OutputFormat::Json;
    } else if (s == "csv") {
      f = OutputFormat::Csv;
    } else {
      return StoreError::output("unsupported format over FFI: " + std::string(s));
    }
  }
  if (f == OutputFormat::Arrow || f == OutputFormat::Parquet)
    return StoreError::output("use CLI/native API for parquet");
  return f;
}

}  // namespace ostrel::store
