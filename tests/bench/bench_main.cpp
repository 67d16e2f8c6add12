// Runs every benchmark, then prints each figure beside its baseline.
#include "figures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<bench::Figure>& figures() {
  static std::vector<bench::Figure> all;
  return all;
}
std::vector<std::string>& notes() {
  static std::vector<std::string> all;
  return all;
}

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
        const std::string name = run.run_name.function_name;
        nanos[name] = run.GetAdjustedRealTime() * multiplier(run.time_unit);
        for (const auto& [key, counter] : run.counters) counters[name][key] = counter.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanos;
  std::map<std::string, std::map<std::string, double>> counters;

 private:
  static double multiplier(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1;
      case benchmark::kMicrosecond:
        return 1e3;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kSecond:
        return 1e9;
    }
    return 1;
  }
};

std::string duration(double nanos) {
  char text[32];
  if (nanos >= 1e6) {
    std::snprintf(text, sizeof text, "%.2f ms", nanos / 1e6);
  } else if (nanos >= 1e4) {
    std::snprintf(text, sizeof text, "%.1f us", nanos / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f ns", nanos);
  }
  return text;
}

}  // namespace

void bench::addFigure(Figure figure) { figures().push_back(std::move(figure)); }
void bench::addNote(std::string line) { notes().push_back(std::move(line)); }

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\n%-62s %12s %12s %7s %7s\n", "figure", "agent", "baseline", "ratio", "target");
  for (const auto& f : figures()) {
    auto a = collector.nanos.find(f.agent);
    auto b = collector.nanos.find(f.baseline);
    if (a == collector.nanos.end() || b == collector.nanos.end()) continue;
    const double ratio = a->second / b->second;
    const double own = a->second - b->second;
    if (f.overhead && f.ownWorkTargetNanos > 0) {
      std::printf("%-62s %12s %12s %6.2fx\n", f.name.c_str(), duration(a->second).c_str(),
                  duration(b->second).c_str(), ratio);
      std::printf("%-62s %12s %12s %7s <%6s %s\n", "  of which the agent's own work",
                  duration(own).c_str(), "", "", duration(f.ownWorkTargetNanos).c_str(),
                  own < f.ownWorkTargetNanos ? "ok" : "MISSED");
      continue;
    }
    std::printf("%-62s %12s %12s %6.2fx %6.2fx %s\n", f.name.c_str(), duration(a->second).c_str(),
                duration(b->second).c_str(), ratio, f.target, ratio < f.target ? "ok" : "MISSED");
    if (f.overhead) {
      std::printf("%-62s %12s\n", "  of which the agent's own work", duration(own).c_str());
    }
  }
  for (const auto& note : notes()) std::printf("%s\n", note.c_str());
  for (const auto& [name, values] : collector.counters) {
    for (const auto& [key, value] : values) {
      std::printf("%-58s %s = %.3f\n", name.c_str(), key.c_str(), value);
    }
  }
  benchmark::Shutdown();
  return 0;
}
