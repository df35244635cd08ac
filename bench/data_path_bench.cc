// The data path end to end: a build_batch over S symbols x N candles (default 10 x 100000) with
// every implemented candle-only indicator at its example parameters plus the five raw fields.
// Prints decode MB/s of the input JSON, evaluation ns per (step, feature) with the part spent
// outside the indicators themselves, render MB/s of the output, and the process's peak memory
// against the input and output text sizes.
//
//   data_path_bench [--symbols S] [--candles N] [--max-features F]

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "feature-store-core/build.h"
#include "feature-store-core/feeds.h"
#include "feature-store-core/json_reader.h"
#include "feature-store-core/render.h"
#include "feature-store-core/store.h"
#include "ostrel-core/registry.h"

namespace {

using namespace ostrel;
using namespace ostrel::store;

// CPU time of this thread: the machine is shared, and wall time would measure the neighbours.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
  }
};

double seconds_since(double t0) { return Clock::now() - t0; }

double peak_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void append_price(std::string& out, double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", x);
  out += buf;
}

// {"SYM0":[{"ts":..,"open":..,...},...],...}: object-form candles, the common spelling.
std::string make_data(std::size_t symbols, std::size_t candles) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> z(0.0, 1.0);
  std::string out = "{";
  for (std::size_t s = 0; s < symbols; ++s) {
    if (s) out += ',';
    out += "\"SYM" + std::to_string(s) + "\":[";
    double p = 100.0 + 10.0 * static_cast<double>(s);
    for (std::size_t i = 0; i < candles; ++i) {
      const double o = p;
      const double c = std::max(1.0, o * std::exp(0.01 * z(rng)));
      const double h = std::max(o, c) * (1.0 + 0.003 * std::fabs(z(rng)));
      const double l = std::min(o, c) * (1.0 - 0.003 * std::fabs(z(rng)));
      if (i) out += ',';
      out += "{\"ts\":" + std::to_string(1700000000 + 60 * static_cast<long long>(i));
      out += ",\"open\":";
      append_price(out, o);
      out += ",\"high\":";
      append_price(out, h + 0.01);
      out += ",\"low\":";
      append_price(out, l - 0.01);
      out += ",\"close\":";
      append_price(out, c);
      out += ",\"volume\":";
      append_price(out, 1000.0 + 100.0 * std::fabs(z(rng)));
      out += '}';
      p = c;
    }
    out += ']';
  }
  out += '}';
  return out;
}

std::string number_list(std::span<const double> v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i) out += ',';
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v[i]);
    out += buf;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t symbols = 10, candles = 100000, max_features = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--symbols")) symbols = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--candles")) candles = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--max-features"))
      max_features = std::strtoull(argv[i + 1], nullptr, 10);
  }

  // Features: the raw fields plus every implemented indicator that needs only candles.
  std::string features;
  std::size_t nfeat = 0, nind = 0;
  for (const char* f : {"open", "high", "low", "close", "volume"}) {
    if (nfeat) features += ',';
    features += std::string(R"({"kind":"price","field":")") + f + "\"}";
    ++nfeat;
  }
  const Registry& reg = Registry::instance();
  for (const FamilyEntry& e : reg.entries()) {
    if (nind >= max_features) break;
    const NameInfo* row = reg.canonical(e.name);
    if (row == nullptr || (row->input != InputKind::Close && row->input != InputKind::Candle))
      continue;
    features += R"(,{"kind":"indicator","name":")" + std::string(e.name) + R"(","params":[)" +
                number_list(e.example.values()) + "]}";
    ++nfeat;
    ++nind;
  }
  const std::string spec = R"({"universe":["SYM0"],"features":[)" + features + "]}";

  std::fprintf(stderr, "generating %zu x %zu candles...\n", symbols, candles);
  const std::string cmd = R"({"cmd":"build_batch","data":)" + make_data(symbols, candles) + "}";
  const std::string_view data = std::string_view(cmd).substr(28, cmd.size() - 29);
  const double before = peak_mib();

  // End to end first, so the peak memory is that of one build_batch command.
  auto store = FeatureStore::create(spec);
  if (!store) {
    std::fprintf(stderr, "%s\n", store.error().display().c_str());
    return 1;
  }
  auto t0 = Clock::now();
  std::size_t out_bytes = 0;
  {
    auto out = store->handle_command(cmd);
    if (!out) {
      std::fprintf(stderr, "%s\n", out.error().display().c_str());
      return 1;
    }
    out_bytes = out->size();
  }
  const double e2e = seconds_since(t0);
  const double peak = peak_mib();

  // The phases one by one.
  t0 = Clock::now();
  auto doc = JsonDocument::parse(cmd, Duplicates::LastWins);
  const double parse = seconds_since(t0);
  t0 = Clock::now();
  auto universe = decode_batch(*(*doc)->root().field("data"));
  const double records = seconds_since(t0);
  const double decode = parse + records;
  doc->reset();

  auto parsed = parse_spec(spec);
  t0 = Clock::now();
  auto table = build_table(*universe, *parsed);
  const double eval = seconds_since(t0);

  // The indicators' own cost: the same replays driven directly, over step contexts made
  // beforehand (the build makes them too, and that is part of what lies outside the
  // indicators), in blocks of steps as the build runs them.
  double direct = 0.0, sink = 0.0;
  for (const auto& [sym, series] : *universe) {
    std::vector<StepContext> contexts(series.candles.size());
    for (std::size_t i = 0; i < contexts.size(); ++i) contexts[i] = step_context(series, i);
    std::vector<EvaluatorPtr> evs;
    for (const Feature& f : parsed->features)
      if (f.kind != Feature::Kind::Price) evs.push_back(std::move(*reg.build(f.name, f.params)));
    constexpr std::size_t kBlock = 256;
    const auto t1 = Clock::now();
    for (std::size_t b0 = 0; b0 < contexts.size(); b0 += kBlock) {
      const std::size_t end = std::min(contexts.size(), b0 + kBlock);
      for (auto& ev : evs)
        for (std::size_t i = b0; i < end; ++i)
          if (auto v = ev->update(contexts[i])) sink += *v;
    }
    direct += seconds_since(t1);
  }

  t0 = Clock::now();
  const std::size_t json_size = render_json(*table).size();
  const double rjson = seconds_since(t0);
  t0 = Clock::now();
  const std::size_t csv_size = render_csv(*table).size();
  const double rcsv = seconds_since(t0);

  const double steps = static_cast<double>(symbols * candles);
  const double mb_in = static_cast<double>(data.size()) / 1e6;
  std::printf("(times are CPU time of the benchmark thread)\n");
  std::printf("symbols x candles        %zu x %zu, features %zu (%zu indicators)\n", symbols,
              candles, nfeat, nind);
  std::printf("input JSON               %.1f MB\n", mb_in);
  std::printf("decode                   %.0f MB/s (%.3f s: parse %.0f MB/s, records %.0f MB/s)\n",
              mb_in / decode, decode, mb_in / parse, mb_in / records);
  std::printf("evaluation               %.2f ns per (step, feature) (%.3f s)\n",
              eval * 1e9 / (steps * static_cast<double>(nfeat)), eval);
  std::printf("  of which outside the indicators  %.2f ns per (step, feature)\n",
              (eval - direct) * 1e9 / (steps * static_cast<double>(nfeat)));
  std::printf("render JSON              %.0f MB/s (%.1f MB)\n",
              static_cast<double>(json_size) / 1e6 / rjson, static_cast<double>(json_size) / 1e6);
  std::printf("render CSV               %.0f MB/s (%.1f MB)\n",
              static_cast<double>(csv_size) / 1e6 / rcsv, static_cast<double>(csv_size) / 1e6);
  std::printf("build_batch end to end   %.3f s\n", e2e);
  std::printf("peak memory              %.0f MiB (%.0f MiB before the command; input %.0f MiB, "
              "output %.0f MiB, target <= %.0f MiB)\n",
              peak, before, static_cast<double>(cmd.size()) / 1048576.0,
              static_cast<double>(out_bytes) / 1048576.0,
              2.0 * static_cast<double>(cmd.size() + out_bytes) / 1048576.0);
  return sink == 12345.678 ? 1 : 0;
}
