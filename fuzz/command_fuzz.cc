// Fuzz target for the command entry point: any text handed to a store, as a command or as a
// construction argument, must give a response or an error, never a crash, a leak or undefined
// behaviour. A failed command must also leave the store as it was, which is checked by asking
// for the specification's columns before and after.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "feature-store-core/store.h"

namespace {

constexpr std::string_view kSpec =
    R"({"universe":["A","B"],"features":[{"kind":"price","field":"close"},)"
    R"({"kind":"indicator","name":"Sma","params":[3]}],"labels":[{"kind":"forward_return","horizon":1}]})";
constexpr std::string_view kFallbackSpec =
    R"({"universe":["A","B"],"features":[{"kind":"price","field":"close"}],)"
    R"("labels":[{"kind":"forward_return","horizon":1}]})";

std::string fingerprint(const ostrel::store::FeatureStore& s) {
  std::string out;
  for (const auto& f : s.spec().features) out += f.column + "|";
  for (const auto& l : s.spec().labels) out += l.column + "|";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the entry point; the rest is the text.
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    auto created = ostrel::store::FeatureStore::create(text);
    if (created) (void)created->handle_command(R"({"cmd":"version"})");
    return 0;
  }
  auto created = ostrel::store::FeatureStore::create(kSpec);
  if (!created) created = ostrel::store::FeatureStore::create(kFallbackSpec);
  if (!created) std::abort();
  auto& store = *created;
  const std::string before = fingerprint(store);
  auto r = store.handle_command(text);
  if (!r && fingerprint(store) != before) std::abort();  // a failed command changed the spec
  // A second command on the same store: the store must still answer.
  (void)store.handle_command(text);
  if (!store.handle_command(R"({"cmd":"version"})")) std::abort();
  return 0;
}
