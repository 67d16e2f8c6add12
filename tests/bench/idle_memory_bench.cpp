// Resident memory of an idle agent after 1,000 polls against the same after
// its first poll. The agent runs as a whole process (the scenario runner, sped
// up so that 1,000 polls take a second), with 50 quiet audio clients.
#include "child.h"
#include "figures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

#ifdef TONDREL_SIM_PATH

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

long linesIn(const std::string& path) {
  std::ifstream file(path);
  long count = 0;
  std::string line;
  while (std::getline(file, line)) ++count;
  return count;
}

void waitForPolls(const std::string& trace, long polls) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (linesIn(trace) < polls && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void idleResidentMemory(benchmark::State& state) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder =
      fs::temp_directory_path(error) / ("tondrel-bench-" + std::to_string(getpid()));
  fs::create_directories(folder, error);
  const std::string scenario = (folder / "idle.json").string();
  const std::string trace = (folder / "trace.jsonl").string();
  {
    std::ostringstream json;
    json << R"({"osVersion":"14.0","audio":{"processes":[)";
    for (int i = 0; i < 50; ++i) {
      json << (i ? "," : "") << R"({"id":)" << 100 + i << R"(,"pid":)" << 1000 + i << R"(,"input":)"
           << (i % 10 == 0 ? "true" : "false") << "}";
    }
    json << "]}}";
    std::ofstream(scenario) << json.str();
  }
  for (auto _ : state) {
    fs::remove(trace, error);
    bench::Child child({TONDREL_SIM_PATH, "--speed=1000", "--trace=" + trace, scenario});
    if (!child.ok() || !child.readLine()) {
      state.SkipWithError("tondrel-sim did not start");
      break;
    }
    waitForPolls(trace, 1);
    const long first = residentKiB(child.pid());
    waitForPolls(trace, 11);
    const long tenth = residentKiB(child.pid());
    waitForPolls(trace, 1001);
    const long thousandth = residentKiB(child.pid());
    child.finish();
    state.counters["RSS after poll 1 (KiB)"] = static_cast<double>(first);
    state.counters["RSS after poll 10 (KiB)"] = static_cast<double>(tenth);
    state.counters["RSS after poll 1000 (KiB)"] = static_cast<double>(thousandth);
    static bool noted = false;  // once, however often the benchmark is repeated
    if (!noted) {
      noted = true;
      char note[200];
      std::snprintf(note, sizeof note,
                    "%-62s %8ld KiB %8ld KiB  growth %ld KiB (target 0; after poll 10: %ld KiB)",
                    "resident memory of an idle agent, after 1,000 polls vs poll 1", thousandth,
                    first, thousandth - first, tenth);
      bench::addNote(note);
    }
  }
  fs::remove_all(folder, error);
}
BENCHMARK(idleResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
