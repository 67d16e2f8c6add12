// One quiet poll of the per-process monitor through the real Linux backend,
// against a running PipeWire, beside the same reads made directly:
//   tondrel_bench_pipewire [POLLS=2000]
// run in the environment of a session whose PipeWire has capture streams
// running (tests/bench/linux/pipewire_agent.mjs starts one). The monitor is
// started as the agent starts it, then each poll is one run of its poll on
// the manual clock, as a change PipeWire announces would cause. Times are the process's CPU time,
// all threads.
#include "agent/audio/process_input_monitor.h"
#include "platform/threads/loop_threads.h"

#include "platform/audio.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace tondrel;

namespace {

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What a quiet poll asks of the backend: the capture streams, no pid wanted.
void readsAlone(std::vector<platform::audio::CaptureStream>& streams) {
  platform::audio::captureStreams(streams, [](platform::audio::StreamId) { return false; });
}

}  // namespace

int main(int argc, char** argv) {
  const long polls = argc > 1 ? std::max(1L, std::atol(argv[1])) : 2000;
  std::vector<platform::audio::CaptureStream> ids;
  // The first read sets the connection going; it is ready some milliseconds
  // later.
  for (int attempt = 0; attempt < 100 && ids.empty(); ++attempt) {
    readsAlone(ids);
    if (ids.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (ids.empty()) {
    std::fprintf(stderr, "no capture stream listed: is PipeWire running, with captures?\n");
    return 1;
  }

  loop::threads::useManualClock();
  auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  loop::threads::fireTimer();

  // Alternating rounds, so both see the same machine.
  double pollTime = 0;
  double readTime = 0;
  constexpr int rounds = 10;
  for (int round = 0; round < rounds; ++round) {
    double start = cpuSeconds();
    for (long i = 0; i < polls / rounds; ++i) loop::threads::fireTimer();
    pollTime += cpuSeconds() - start;
    start = cpuSeconds();
    for (long i = 0; i < polls / rounds; ++i) readsAlone(ids);
    readTime += cpuSeconds() - start;
  }
  const double done = static_cast<double>(polls / rounds * rounds);
  std::printf(
      "quiet poll through PipeWire, %zu capture streams: %.1f µs of CPU per poll "
      "(its reads alone: %.1f µs; target at most 100 µs)\n",
      ids.size(), pollTime / done * 1e6, readTime / done * 1e6);
  loop::threads::useManualClock();
  return 0;
}
