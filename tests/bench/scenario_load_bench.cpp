// Loading a scenario: tondrel-sim started on 160,000 processes against the
// same on 10,000, each timed from the start to its ready line. Loading is one
// pass over the file, so the ratio should stay near 16.
#include "child.h"
#include "figures.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

#ifdef TONDREL_SIM_PATH

// A scenario of `count` processes, written once per benchmark run; removed
// with its folder when the run ends.
class ProcessScenario {
 public:
  explicit ProcessScenario(long count) {
    std::error_code error;
    folder_ = std::filesystem::temp_directory_path(error) /
              ("tondrel-bench-load-" + std::to_string(getpid()) + "-" + std::to_string(count));
    std::filesystem::create_directories(folder_, error);
    path_ = (folder_ / "processes.json").string();
    std::ofstream file(path_);
    file << R"({"processes":[)";
    for (long i = 0; i < count; ++i) {
      file << (i ? "," : "") << R"({"pid":)" << 2 + i << R"(,"parent":1})";
    }
    file << "]}";
  }
  ProcessScenario(const ProcessScenario&) = delete;
  ProcessScenario& operator=(const ProcessScenario&) = delete;
  ~ProcessScenario() {
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path folder_;
  std::string path_;
};

void loadToReady(benchmark::State& state, long count) {
  const ProcessScenario scenario(count);
  for (auto _ : state) {
    bench::Child child({TONDREL_SIM_PATH, scenario.path()});
    if (!child.ok() || !child.readLine()) {
      state.SkipWithError("tondrel-sim did not start on the scenario");
      return;
    }
    state.PauseTiming();
    child.finish();
    state.ResumeTiming();
  }
}

void scenarioLoad160kProcesses(benchmark::State& state) { loadToReady(state, 160'000); }
BENCHMARK(scenarioLoad160kProcesses)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void scenarioLoad10kProcesses(benchmark::State& state) { loadToReady(state, 10'000); }
BENCHMARK(scenarioLoad10kProcesses)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

const bool registered =
    (bench::addFigure({"tondrel-sim start to ready, 160,000 processes vs 10,000",
                       "scenarioLoad160kProcesses", "scenarioLoad10kProcesses", 24}),
     true);

#endif

}  // namespace
