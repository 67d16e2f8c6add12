// Start-up of the whole agent process to its first line, against a process
// that writes one line and exits.
#include "child.h"
#include "figures.h"

#include <benchmark/benchmark.h>

namespace {

// Times the start to the first line; the exit that follows is not timed.
void firstLine(benchmark::State& state, const char* path) {
  for (auto _ : state) {
    bench::Child child({path});
    if (!child.ok() || !child.readLine()) {
      state.SkipWithError("the program did not start or wrote no line");
      return;
    }
    state.PauseTiming();
    child.finish();
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
