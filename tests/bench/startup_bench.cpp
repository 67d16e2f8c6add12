// Start-up of the whole agent process to its first line, against a process
// that writes one line and exits.
#include "figures.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Starts the program with a pipe on each side and waits for its first line.
// Its input is closed afterwards, which ends the agent; the wait for the exit
// is not timed.
void firstLine(benchmark::State& state, const char* path) {
  for (auto _ : state) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, path, &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("spawn failed");
      return;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
    }
    state.PauseTiming();
    close(in[1]);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    state.ResumeTiming();
  }
}

void tondrelToReady(benchmark::State& state) { firstLine(state, TONDREL_PATH); }
BENCHMARK(tondrelToReady)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void oneLineProcess(benchmark::State& state) { firstLine(state, ONE_LINE_PATH); }
BENCHMARK(oneLineProcess)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

const bool registered = (bench::addFigure({"start-up of tondrel to its ready line (whole process)",
                                           "tondrelToReady", "oneLineProcess", 1.5}),
                         true);

}  // namespace
