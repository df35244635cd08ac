// Replays one million steps through every registered indicator (built by name with its example
// parameters, or with the parameters given on the command line) and prints nanoseconds per
// update. Also writes the series' candles as raw doubles so a peer library can be timed on the
// very same data.
//
//   ostrel_bench [--steps N] [--dump FILE] [--only Name=p1,p2,... ...]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "market_data.h"
#include "ostrel-core/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Job {
  std::string name;
  std::vector<double> params;
};

double time_one(ostrel::Evaluator& ev, const std::vector<ostrel::StepContext>& ctx, double& sink) {
  const auto t0 = Clock::now();
  double acc = 0;
  std::size_t extras = 0;
  for (const auto& c : ctx) {
    if (auto v = ev.update(c)) {
      acc += *v;
      extras += ev.extras().size();
    }
  }
  const auto t1 = Clock::now();
  sink += acc + static_cast<double>(extras);
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(ctx.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t steps = 1000000;
  const char* dump = nullptr;
  std::vector<Job> jobs;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--steps") && i + 1 < argc) {
      steps = std::strtoull(argv[++i], nullptr, 10);
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
  std::printf("name\tfamily\tparams\tns_per_update\n");
  for (const auto& j : jobs) {
    auto probe = reg.build(j.name, j.params);
    if (!probe) {
      std::fprintf(stderr, "%s: %s\n", j.name.c_str(), probe.error().display().c_str());
      continue;
    }
    // Best of three runs on fresh evaluators: the minimum is the least disturbed by the machine.
    double best = 1e300;
    for (int rep = 0; rep < 3; ++rep) {
      auto fresh = reg.build(j.name, j.params);
      const double ns = time_one(**fresh, market.contexts, sink);
      if (ns < best) best = ns;
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
    std::printf("%s\t%s\t%s\t%.2f\n", j.name.c_str(), kFamilies[static_cast<int>(row->family)],
                ps.c_str(), best);
    std::fflush(stdout);
  }
  std::fprintf(stderr, "checksum %g\n", sink);
  return 0;
}
