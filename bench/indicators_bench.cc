// Replays one million steps through every registered indicator (built by name with its example
// parameters, or with the parameters given on the command line) and prints nanoseconds per
// update. Also writes the series' candles as raw doubles so a peer library can be timed on the
// very same data.
//
//   ostrel_bench [--steps N] [--dump FILE] [--only Name=p1,p2,... ...] [--build]
//
// With --build it instead times a full build (plan + replay + rows, no JSON) of a specification
// of twenty typical features over one symbol, against the sum of those members' own costs.

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "feature-store-core/build.h"
#include "feature-store-core/spec.h"
#include "feature-store-core/universe.h"
#include "market_data.h"
#include "ostrel-core/registry.h"

namespace {

// CPU time of this thread: the machine may be shared, and wall time would measure neighbours.
double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct Job {
  std::string name;
  std::vector<double> params;
};

double time_one(ostrel::Evaluator& ev, const std::vector<ostrel::StepContext>& ctx, double& sink) {
  const double t0 = cpu_seconds();
  double acc = 0;
  std::size_t extras = 0;
  for (const auto& c : ctx) {
    if (auto v = ev.update(c)) {
      acc += *v;
      extras += ev.extras().size();
    }
  }
  const double t1 = cpu_seconds();
  sink += acc + static_cast<double>(extras);
  return (t1 - t0) * 1e9 / static_cast<double>(ctx.size());
}

// The same replay through the block loop the build uses (256 steps per call).
double time_block(ostrel::Evaluator& ev, const std::vector<ostrel::StepContext>& ctx,
                  std::size_t n_extras, double& sink) {
  constexpr std::size_t kBlock = 256;
  std::vector<double> values(kBlock), extras(kBlock * n_extras);
  const double t0 = cpu_seconds();
  double acc = 0;
  for (std::size_t b = 0; b < ctx.size(); b += kBlock) {
    const std::size_t len = std::min(kBlock, ctx.size() - b);
    ev.update_block(std::span(ctx).subspan(b, len), values.data(), extras.data(), n_extras);
    acc += values[len - 1];
  }
  const double t1 = cpu_seconds();
  sink += acc;
  return (t1 - t0) * 1e9 / static_cast<double>(ctx.size());
}

// Twenty typical features: averages, oscillators, bands (two fields of one evaluator), range,
// dispersion and regression members, and two raw fields.
constexpr const char* kBuildSpec = R"({"universe":["BENCH"],"features":[
  {"kind":"price","field":"close"},{"kind":"price","field":"volume"},
  {"kind":"indicator","name":"Sma","params":[20]},{"kind":"indicator","name":"Ema","params":[20]},
  {"kind":"indicator","name":"Wma","params":[20]},{"kind":"indicator","name":"Dema","params":[20]},
  {"kind":"indicator","name":"Tema","params":[20]},{"kind":"indicator","name":"Kama","params":[10,2,30]},
  {"kind":"indicator","name":"Rsi","params":[14]},{"kind":"indicator","name":"Roc","params":[10]},
  {"kind":"indicator","name":"Cmo","params":[14]},
  {"kind":"indicator","name":"MacdIndicator","params":[12,26,9]},
  {"kind":"indicator","name":"MacdIndicator","params":[12,26,9],"field":"signal"},
  {"kind":"indicator","name":"BollingerBands","params":[20,2],"field":"upper"},
  {"kind":"indicator","name":"BollingerBands","params":[20,2],"field":"lower"},
  {"kind":"indicator","name":"Atr","params":[14]},{"kind":"indicator","name":"Natr","params":[14]},
  {"kind":"indicator","name":"StdDev","params":[20]},{"kind":"indicator","name":"ZScore","params":[20]},
  {"kind":"indicator","name":"LinearRegression","params":[14]}]})";

int run_build(std::size_t steps) {
  using namespace ostrel;
  auto spec = store::accept_spec(kBuildSpec);
  if (!spec) {
    std::fprintf(stderr, "%s\n", spec.error().display().c_str());
    return 2;
  }
  const auto market = bench::make_market(steps);
  store::Universe universe;
  store::SymbolSeries series;
  series.candles = market.candles;
  universe.insert("BENCH", std::move(series));

  // The members on their own, once per distinct evaluator.
  double members = 0, sink = 0;
  std::vector<std::string> seen;
  for (const auto& f : spec->features) {
    if (f.kind == store::Feature::Kind::Price) continue;
    if (std::find(seen.begin(), seen.end(), f.key) != seen.end()) continue;
    seen.push_back(f.key);
    double best = 1e300;
    for (int rep = 0; rep < 3; ++rep) {
      auto ev = Registry::instance().build(f.name, f.params);
      best = std::min(best, time_one(**ev, market.contexts, sink));
    }
    members += best;
  }
  double build = 1e300;
  for (int rep = 0; rep < 3; ++rep) {
    const double t0 = cpu_seconds();
    auto table = store::build_table(universe, *spec);
    const double t1 = cpu_seconds();
    if (!table) {
      std::fprintf(stderr, "%s\n", table.error().display().c_str());
      return 2;
    }
    sink += static_cast<double>(table->rows);
    build = std::min(build, (t1 - t0) * 1e9 / static_cast<double>(steps));
  }
  std::printf("features\t%zu\nevaluators\t%zu\nmembers_ns_per_step\t%.2f\n"
              "build_ns_per_step\t%.2f\nratio\t%.3f\n",
              spec->features.size(), seen.size(), members, build, build / members);
  std::fprintf(stderr, "checksum %g\n", sink);
  return 0;
}

// The implemented indicators as a markdown table: name, input, parameter kinds, extras and the
// example parameters (which construct successfully).
int print_catalogue() {
  static const char* kInputs[] = {"close", "candle", "pair", "derivatives", "book", "trades",
                                  "trades + book + close", "cross-section"};
  const auto& reg = ostrel::Registry::instance();
  std::printf("| name | input | parameters | extras | example |\n|---|---|---|---|---|\n");
  for (const auto& e : reg.entries()) {
    const auto* row = reg.info(e.name);
    std::string sig, extras, example;
    for (char k : row->signature) sig += std::string(sig.empty() ? "" : ", ") + k;
    for (auto x : row->extras) extras += std::string(extras.empty() ? "" : ", ") + std::string(x);
    for (double v : e.example.values()) {
      char b[32];
      std::snprintf(b, sizeof b, "%s%g", example.empty() ? "" : ", ", v);
      example += b;
    }
    std::printf("| `%s` | %s | %s | %s | [%s] |\n", std::string(e.name).c_str(),
                kInputs[static_cast<int>(row->input)], sig.empty() ? "none" : sig.c_str(),
                extras.c_str(), example.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t steps = 1000000;
  const char* dump = nullptr;
  std::vector<Job> jobs;
  bool build_mode = false, catalogue_mode = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--steps") && i + 1 < argc) {
      steps = std::strtoull(argv[++i], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--catalogue")) {
      catalogue_mode = true;
    } else if (!std::strcmp(argv[i], "--build")) {
      build_mode = true;
    } else if (!std::strcmp(argv[i], "--dump") && i + 1 < argc) {
      dump = argv[++i];
    } else if (!std::strcmp(argv[i], "--only")) {
      while (i + 1 < argc && argv[i + 1][0] != '-') {
        std::string s = argv[++i];
        Job j;
        const auto eq = s.find('=');
        j.name = s.substr(0, eq);
        if (eq != std::string::npos) {
          std::string rest = s.substr(eq + 1);
          char* p = rest.data();
          while (*p) {
            j.params.push_back(std::strtod(p, &p));
            if (*p == ',') ++p;
          }
        }
        jobs.push_back(std::move(j));
      }
    }
  }
  if (build_mode) return run_build(steps);
  if (catalogue_mode) return print_catalogue();
  const auto& reg = ostrel::Registry::instance();
  if (jobs.empty())
    for (const auto& e : reg.entries()) {
      auto v = e.example.values();
      jobs.push_back({std::string(e.name), {v.begin(), v.end()}});
    }

  const auto market = ostrel::bench::make_market(steps);
  if (dump) {
    // Columns: open, high, low, close, volume, reference; one block of `steps` doubles each.
    std::FILE* f = std::fopen(dump, "wb");
    if (!f) return 2;
    for (int col = 0; col < 6; ++col)
      for (std::size_t i = 0; i < steps; ++i) {
        const auto& c = market.candles[i];
        const double v = col == 0 ? c.open : col == 1 ? c.high : col == 2 ? c.low
                       : col == 3 ? c.close : col == 4 ? c.volume : market.reference[i];
        std::fwrite(&v, sizeof v, 1, f);
      }
    std::fclose(f);
  }

  double sink = 0;
  std::printf("name\tfamily\tparams\tns_per_update\tns_per_step_block\n");
  for (const auto& j : jobs) {
    auto probe = reg.build(j.name, j.params);
    if (!probe) {
      std::fprintf(stderr, "%s: %s\n", j.name.c_str(), probe.error().display().c_str());
      continue;
    }
    // Best of three runs on fresh evaluators: the minimum is the least disturbed by the machine.
    const auto* info = reg.canonical(j.name);
    double best = 1e300, best_block = 1e300;
    for (int rep = 0; rep < 3; ++rep) {
      auto fresh = reg.build(j.name, j.params);
      best = std::min(best, time_one(**fresh, market.contexts, sink));
      auto fresh_block = reg.build(j.name, j.params);
      best_block = std::min(best_block, time_block(**fresh_block, market.contexts,
                                                   info->extras.size(), sink));
    }
    std::string ps;
    for (std::size_t k = 0; k < j.params.size(); ++k) {
      char b[32];
      std::snprintf(b, sizeof b, "%s%g", k ? "," : "", j.params[k]);
      ps += b;
    }
    const auto* row = reg.canonical(j.name);
    static const char* kFamilies[] = {
        "moving_averages", "momentum", "volatility", "bands", "trend", "volume", "candlestick",
        "chart_patterns", "statistics", "risk", "cycles", "sequential", "market_profile", "pair",
        "microstructure", "derivatives", "breadth", "transforms", "range_oscillators",
        "trailing_stops"};
    std::printf("%s\t%s\t%s\t%.2f\t%.2f\n", j.name.c_str(),
                kFamilies[static_cast<int>(row->family)], ps.c_str(), best, best_block);
    std::fflush(stdout);
  }
  std::fprintf(stderr, "checksum %g\n", sink);
  return 0;
}
