// The simulated audio system as a scenario drives it: a timeline counted in
// polls, played by the hook, and one trace entry per poll.
#include "agent/audio/device_input_monitor.h"
#include "agent/audio/process_input_monitor.h"
#include "unit/audio/audio_fixture.h"

#include <memory>

using namespace tondrel;

namespace {

using sim::audio::Moment;
using sim::audio::Process;

class SimAudioTest : public AudioWorld {};

TEST_F(SimAudioTest, HookPlaysATimelineCountedInPolls) {
  std::vector<long> pollsSeen;
  sim::audio::setProcesses({Process{10, 777, 0u}});
  sim::audio::setHook([&pollsSeen](Moment moment) {
    if (moment != Moment::pollStart) return;
    const long poll = sim::audio::polls();
    pollsSeen.push_back(poll);
    if (poll == 3) sim::audio::setRunningInput(10, 1u);
    if (poll == 5) sim::audio::removeProcess(10);
  });
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);  // poll 1
  EXPECT_TRUE(tick().empty());          // poll 2
  EXPECT_EQ(tick(), std::vector{micJson(true, 777)});
  EXPECT_TRUE(tick().empty());
  EXPECT_EQ(tick(), std::vector{micJson(false, 777)});
  EXPECT_EQ(pollsSeen, (std::vector<long>{1, 2, 3, 4, 5}));
}

TEST_F(SimAudioTest, EachPollLeavesOneTraceEntry) {
  sim::trace::capture(true);
  sim::audio::setProcesses({Process{10, 777, 1u}, Process{11, 778, 0u}});
  {
    const auto monitor = std::make_shared<ProcessInputMonitor>();
    ProcessInputMonitor::start(monitor);
    loop::threads::advance(pollInterval * 2);
  }
  EXPECT_EQ(sim::trace::take(),
            std::vector<std::string>(3, R"({"event":"poll","monitor":"process"})"));

  loop::threads::useManualClock();
  sim::audio::setDefaultInputDevice(40);
  sim::audio::setDevice({40, 1u});
  const auto monitor = std::make_shared<DeviceInputMonitor>();
  DeviceInputMonitor::start(monitor);
  loop::threads::advance(pollInterval);
  EXPECT_EQ(sim::trace::take(),
            std::vector<std::string>(2, R"({"event":"poll","monitor":"device"})"));
  EXPECT_EQ(sim::audio::polls(), 5);
}

}  // namespace
