// One quiet poll of each microphone monitor, as the agent's timer runs it,
// against the simulated reads the poll makes, called directly.
#include "agent/audio/device_input_monitor.h"
#include "agent/audio/process_input_monitor.h"
#include "agent/globals.h"
#include "allocations.h"
#include "figures.h"
#include "sim/audio.h"
#include "platform/threads/loop_threads.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace tondrel;

namespace {

constexpr int processObjects = 50;

void fiftyProcesses() {
  sim::audio::reset();
  std::vector<sim::audio::Process> list;
  for (int i = 0; i < processObjects; ++i) {
    // A few capture input, the rest do not; nothing changes between polls.
    list.emplace_back(100 + i, 1000 + i, i % 10 == 0 ? 1u : 0u);
  }
  sim::audio::setProcesses(list);
}

// The monitor is started as the agent starts it (its first poll and the
// timer), polled once more so that its bookkeeping is settled, then each
// iteration is one tick of the timer.
template <typename Monitor>
void quietPolls(benchmark::State& state, void (*world)()) {
  world();
  loop::threads::useManualClock();
  auto monitor = std::make_shared<Monitor>();
  Monitor::start(monitor);
  loop::threads::fireTimer();
  const std::uint64_t before = bench::allocationCount();
  std::int64_t polls = 0;
  for (auto _ : state) {
    loop::threads::fireTimer();
    ++polls;
  }
  state.counters["allocations per poll"] =
      static_cast<double>(bench::allocationCount() - before) / static_cast<double>(polls);
  loop::threads::useManualClock();
}

void processMonitorQuietPoll(benchmark::State& state) {
  quietPolls<ProcessInputMonitor>(state, fiftyProcesses);
}
BENCHMARK(processMonitorQuietPoll);

void processMonitorReadsAlone(benchmark::State& state) {
  fiftyProcesses();
  const AudioObjectPropertyAddress list{0x70727323, 0x676c6f62, 0};
  const AudioObjectPropertyAddress input{0x70697269, 0x676c6f62, 0};
  AudioObjectID ids[processObjects];
  for (auto _ : state) {
    UInt32 size = 0;
    AudioObjectGetPropertyDataSize(1, &list, 0, nullptr, &size);
    AudioObjectGetPropertyData(1, &list, 0, nullptr, &size, ids);
    for (AudioObjectID id : ids) {
      UInt32 value = 0;
      UInt32 valueSize = sizeof value;
      AudioObjectGetPropertyData(id, &input, 0, nullptr, &valueSize, &value);
      benchmark::DoNotOptimize(value);
    }
  }
}
BENCHMARK(processMonitorReadsAlone);

void oneRunningDevice() {
  sim::audio::reset();
  sim::audio::setDevice({77, 1u});
  sim::audio::setDefaultInputDevice(77);
}

void deviceMonitorQuietPoll(benchmark::State& state) {
  quietPolls<DeviceInputMonitor>(state, oneRunningDevice);
}
BENCHMARK(deviceMonitorQuietPoll);

void deviceMonitorReadsAlone(benchmark::State& state) {
  oneRunningDevice();
  const AudioObjectPropertyAddress device{0x64496e20, 0x676c6f62, 0};
  const AudioObjectPropertyAddress running{0x676f6e65, 0x676c6f62, 0};
  for (auto _ : state) {
    AudioObjectID id = 0;
    UInt32 size = sizeof id;
    AudioObjectGetPropertyData(1, &device, 0, nullptr, &size, &id);
    UInt32 value = 0;
    size = sizeof value;
    AudioObjectGetPropertyData(id, &running, 0, nullptr, &size, &value);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(deviceMonitorReadsAlone);

const bool registered =
    (bench::addFigure({"quiet poll, per-process monitor, 50 objects (vs its 52 reads)",
                       "processMonitorQuietPoll", "processMonitorReadsAlone", 0, true, 2000}),
     bench::addFigure({"quiet poll, device monitor (vs its 2 reads)", "deviceMonitorQuietPoll",
                       "deviceMonitorReadsAlone", 2.0, true}),
     true);

}  // namespace
