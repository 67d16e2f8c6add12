// Resident memory of an idle agent after 1,000 polls against the same after
// its first poll. The agent runs as a whole process (the scenario runner, sped
// up so that 1,000 polls take a second), with 50 quiet audio clients.
#include "figures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
  char folder[] = "/tmp/tondrel-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string scenario = std::string(folder) + "/idle.json";
  const std::string trace = std::string(folder) + "/trace.jsonl";
  {
    std::ostringstream json;
    json << R"({"osVersion":"14.0","audio":{"processes":[)";
    for (int i = 0; i < 50; ++i) {
      json << (i ? "," : "") << R"({"id":)" << 100 + i << R"(,"pid":)" << 1000 + i
           << R"(,"input":)" << (i % 10 == 0 ? "true" : "false") << "}";
    }
    json << "]}}";
    std::ofstream(scenario) << json.str();
  }
  for (auto _ : state) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) break;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string path = TONDREL_SIM_PATH;
    std::string speed = "--speed=1000";
    std::string traceOption = "--trace=" + trace;
    char* argv[] = {path.data(), speed.data(), traceOption.data(),
                    const_cast<char*>(scenario.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start tondrel-sim");
      break;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
    }
    waitForPolls(trace, 1);
    const long first = residentKiB(child);
    waitForPolls(trace, 11);
    const long tenth = residentKiB(child);
    waitForPolls(trace, 1001);
    const long thousandth = residentKiB(child);
    close(in[1]);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    state.counters["RSS after poll 1 (KiB)"] = static_cast<double>(first);
    state.counters["RSS after poll 10 (KiB)"] = static_cast<double>(tenth);
    state.counters["RSS after poll 1000 (KiB)"] = static_cast<double>(thousandth);
    char note[200];
    std::snprintf(note, sizeof note,
                  "%-62s %8ld KiB %8ld KiB  growth %ld KiB (target 0; after poll 10: %ld KiB)",
                  "resident memory of an idle agent, after 1,000 polls vs poll 1", thousandth, first,
                  thousandth - first, tenth);
    bench::addNote(note);
  }
  std::remove(scenario.c_str());
  std::remove(trace.c_str());
  rmdir(folder);
}
BENCHMARK(idleResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
