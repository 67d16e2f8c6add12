#include "agent/audio/device_input_monitor.h"
#include "platform/darwin/audio_properties.h"
#include "audio_fixture.h"

#include <memory>

using namespace tondrel;
// The simulated Mac counts its reads by the Mac's own property selectors.
namespace property = platform::darwin::property;

namespace {

using sim::audio::Device;

// Two microphones, 40 and 41, whose running states each step sets.
struct Step {
  std::optional<AudioObjectID> defaultDevice;  // absent: the read fails
  std::optional<UInt32> mic40;                 // absent: the read fails
  std::optional<UInt32> mic41;
  std::optional<bool> event;  // the running value of the one event written
};

struct Timeline {
  const char* name;
  std::vector<Step> steps;
};

constexpr UInt32 idle = 0;
constexpr UInt32 busy = 1;

const Timeline timelines[] = {
    {"RunningAtStartIsSilentUntilItStops",
     {{40, busy, idle, {}}, {40, busy, idle, {}}, {40, idle, idle, false}}},
    {"StartAndStopAreEachReportedOnce",
     {{40, idle, idle, {}},
      {40, busy, idle, true},
      {40, busy, idle, {}},
      {40, busy, idle, {}},
      {40, idle, idle, false},
      {40, idle, idle, {}}}},
    {"SwitchFromRunningToIdleDeviceIsAStop",
     {{40, busy, idle, {}}, {41, busy, idle, false}, {40, busy, idle, true}}},
    {"SwitchBetweenTwoRunningDevicesIsNoEvent",
     {{40, busy, busy, {}}, {41, busy, busy, {}}, {40, busy, busy, {}}}},
    {"SwitchBetweenTwoIdleDevicesIsNoEvent", {{40, idle, idle, {}}, {41, idle, idle, {}}}},
    {"NoDefaultDeviceIsNotRunning",
     {{40, busy, idle, {}}, {0, busy, busy, false}, {0, busy, busy, {}}, {41, idle, busy, true}}},
    {"DefaultDeviceWithoutObjectIsNotRunning", {{40, busy, idle, {}}, {99, busy, busy, false}}},
    {"FailedDefaultDeviceReadIsNotRunning",
     {{40, busy, idle, {}}, {std::nullopt, busy, idle, false}, {40, busy, idle, true}}},
    {"FailedRunningReadIsNotRunning",
     {{40, busy, idle, {}}, {40, std::nullopt, idle, false}, {40, busy, idle, true}}},
    {"OnlyExactlyOneIsRunning",
     {{40, idle, idle, {}},
      {40, 2u, idle, {}},
      {40, 0xFFFFFFFFu, idle, {}},
      {40, busy, idle, true}}},
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const Timeline& c, std::ostream* os) { *os << c.name; }

class DeviceTimeline : public AudioWorld, public ::testing::WithParamInterface<Timeline> {};

TEST_P(DeviceTimeline, WritesExactlyTheChanges) {
  const std::vector<Step>& steps = GetParam().steps;
  const auto monitor = std::make_shared<DeviceInputMonitor>();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    sim::audio::setDefaultInputDevice(step.defaultDevice);
    sim::audio::setDevice(Device{40, step.mic40});
    sim::audio::setDevice(Device{41, step.mic41});
    std::vector<nlohmann::json> written;
    if (i == 0) {
      OutputCapture capture;
      DeviceInputMonitor::start(monitor);
      written = parsedLines(capture);
    } else {
      written = tick();
    }
    std::vector<nlohmann::json> expected;
    if (step.event) expected.push_back(micJson(*step.event));
    EXPECT_EQ(written, expected) << "at poll " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Timelines, DeviceTimeline, ::testing::ValuesIn(timelines),
                         [](const auto& test) { return std::string(test.param.name); });

class DeviceInputMonitorTest : public AudioWorld {};

TEST_F(DeviceInputMonitorTest, StartPollsAtOnceAndThenOncePerInterval) {
  const auto monitor = std::make_shared<DeviceInputMonitor>();
  DeviceInputMonitor::start(monitor);
  EXPECT_EQ(sim::audio::reads(property::defaultInputDevice), 1);
  EXPECT_DOUBLE_EQ(loop::threads::timerInterval(), pollInterval);
  loop::threads::advance(pollInterval * 2);
  EXPECT_EQ(sim::audio::reads(property::defaultInputDevice), 3);
}

TEST_F(DeviceInputMonitorTest, TimerDoesNotKeepTheMonitorAlive) {
  sim::audio::setDevice(Device{40, idle});
  sim::audio::setDefaultInputDevice(40);
  auto monitor = std::make_shared<DeviceInputMonitor>();
  const std::weak_ptr<DeviceInputMonitor> watch = monitor;
  DeviceInputMonitor::start(monitor);
  monitor.reset();
  EXPECT_TRUE(watch.expired());
  sim::audio::setDevice(Device{40, busy});
  EXPECT_TRUE(tick().empty());
  EXPECT_EQ(sim::audio::polls(), 1);
}

// Without a device there is nothing to ask about its running state.
TEST_F(DeviceInputMonitorTest, NoDeviceMeansNoRunningRead) {
  sim::audio::setDevice(Device{40, busy});
  const auto monitor = std::make_shared<DeviceInputMonitor>();
  DeviceInputMonitor::start(monitor);
  tick();
  EXPECT_EQ(sim::audio::reads(property::deviceIsRunningSomewhere), 0);
}

}  // namespace
