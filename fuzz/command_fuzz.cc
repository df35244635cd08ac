// Fuzz target for the command entry point: any text handed to a store, as a command or as a
// construction argument, must give a response or an error, never a crash, a leak or undefined
// behaviour. A failed command must also leave the store as it was, which is checked by building
// the table before and after.

#include <algorithm>
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

// What a build sees of the store: the table text, or the error, under the current specification.
std::string observe(ostrel::store::FeatureStore& s) {
  auto r = s.handle_command(R"({"cmd":"build","format":"csv"})");
  return r ? *r : r.error().display();
}

// A short valid series, so that build commands have data to work on (ignored while the data
// commands are not built in).
void seed(ostrel::store::FeatureStore& s) {
  std::string cmd = R"({"cmd":"push_batch","symbol":"A","candles":[)";
  double close = 100;
  for (int i = 0; i < 30; ++i) {
    const double next = close + ((i * 7) % 5 - 2) * 0.5;
    if (i) cmd += ',';
    cmd += "[" + std::to_string(1700000000 + i * 60) + "," + std::to_string(close) + "," +
           std::to_string(std::max(close, next) + 1) + "," +
           std::to_string(std::min(close, next) - 1) + "," + std::to_string(next) + ",10]";
    close = next;
  }
  cmd += "]}";
  (void)s.handle_command(cmd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the entry point; the rest is the text.
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    auto created = ostrel::store::FeatureStore::create(text);
    if (created) {  // a specification that passed: build it over the series
      seed(*created);
      (void)observe(*created);
    }
    return 0;
  }
  auto created = ostrel::store::FeatureStore::create(kSpec);
  if (!created) created = ostrel::store::FeatureStore::create(kFallbackSpec);
  if (!created) std::abort();
  auto& store = *created;
  seed(store);
  const std::string before = observe(store);
  auto r = store.handle_command(text);
  if (!r && observe(store) != before) std::abort();  // a failed command changed the store
  // A second command on the same store: the store must still answer.
  (void)store.handle_command(text);
  if (!store.handle_command(R"({"cmd":"version"})")) std::abort();
  return 0;
}
