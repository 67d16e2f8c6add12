#include "agent/audio/process_input_monitor.h"
#include "platform/darwin/audio_properties.h"
#include "audio_fixture.h"

#include <memory>

using namespace tondrel;
// The simulated Mac counts its reads by the Mac's own property selectors.
namespace property = platform::darwin::property;

namespace {

using sim::audio::ListFailure;
using sim::audio::Process;

Process on(AudioObjectID id, pid_t pid) { return Process{id, pid, 1u}; }
Process off(AudioObjectID id, pid_t pid) { return Process{id, pid, 0u}; }

// 501 is a regular application; 502 and 503 are its helpers.
const ExpectedApp recorder{501, "com.example.recorder", "Recorder"};

void populate() {
  sim::processes::set({{501, 1, std::nullopt}, {502, 501, 501}, {503, 501, 501}, {777, 1}});
  sim::apps::set({{501, platform::activationPolicyRegular, recorder.bundleId, recorder.name}});
}

// What the audio system lists at one poll, and what that poll must write.
struct Step {
  std::vector<Process> list;
  std::vector<nlohmann::json> events;
  ListFailure failure = ListFailure::none;
};

// The first step is the poll that start() makes; every later one a tick.
struct Timeline {
  const char* name;
  std::vector<Step> steps;
};

const Timeline timelines[] = {
    {"RunningAtStartIsSilentUntilItStops",
     {{{on(10, 501)}, {}}, {{on(10, 501)}, {}}, {{off(10, 501)}, {micJson(false, 501, recorder)}}}},
    {"StartAndStopOfOneProcess",
     {{{off(10, 502)}, {}},
      {{on(10, 502)}, {micJson(true, 502, recorder)}},
      {{on(10, 502)}, {}},
      {{on(10, 502)}, {}},
      {{off(10, 502)}, {micJson(false, 502, recorder)}},
      {{off(10, 502)}, {}}}},
    {"TwoObjectsOfOneApplicationGiveTwoEvents",
     {{{off(10, 502), off(11, 503)}, {}},
      {{on(10, 502), on(11, 503)}, {micJson(true, 502, recorder), micJson(true, 503, recorder)}}}},
    {"ListedObjectsFollowTheListOrder",
     {{{off(30, 502), off(5, 503)}, {}},
      {{on(30, 502), on(5, 503)}, {micJson(true, 502, recorder), micJson(true, 503, recorder)}}}},
    {"VanishedRunningObjectIsReportedOnceWithItsCachedPid",
     {{{on(10, 502)}, {}}, {{}, {micJson(false, 502, recorder)}}, {{}, {}}}},
    {"VanishedIdleObjectIsForgottenSilently", {{{off(10, 502)}, {}}, {{}, {}}}},
    {"VanishedObjectsComeBeforeListedOnes",
     {{{on(20, 501), off(11, 502)}, {}},
      {{on(11, 502)}, {micJson(false, 501, recorder), micJson(true, 502, recorder)}}}},
    {"EmptyFirstPollStillEndsTheInitialState",
     {{{}, {}}, {{on(10, 501)}, {micJson(true, 501, recorder)}}}},
    {"NewIdleObjectIsRecordedThenItsStartReported",
     {{{}, {}}, {{off(10, 501)}, {}}, {{on(10, 501)}, {micJson(true, 501, recorder)}}}},
    {"FailedSizeQueryStopsEverythingThenRecovers",
     {{{on(10, 501), off(11, 502)}, {}},
      {{on(10, 501), off(11, 502)}, {micJson(false, 501, recorder)}, ListFailure::sizeQuery},
      {{on(10, 501), off(11, 502)}, {micJson(true, 501, recorder)}},
      {{on(10, 501), off(11, 502)}, {}}}},
    {"FailedListReadStopsEverythingThenRecovers",
     {{{on(10, 501), on(11, 502)}, {}},
      {{on(10, 501), on(11, 502)},
       {micJson(false, 501, recorder), micJson(false, 502, recorder)},
       ListFailure::read},
      {{on(10, 501), on(11, 502)}, {micJson(true, 501, recorder), micJson(true, 502, recorder)}}}},
    {"PidReadableOnlyLaterFillsLaterEvents",
     {{{}, {}},
      {{Process{10, std::nullopt, 1u}}, {micJson(true)}},
      {{Process{10, 502, 1u}}, {}},
      {{Process{10, 502, 0u}}, {micJson(false, 502, recorder)}}}},
    {"PidIsReadOnceAndKeptWhileListed",
     {{{off(10, 502)}, {}}, {{on(10, 777)}, {micJson(true, 502, recorder)}}}},
    {"RelistedObjectIsNewAndItsPidReadAgain",
     {{{on(10, 502)}, {}},
      {{}, {micJson(false, 502, recorder)}},
      {{on(10, 777)}, {micJson(true, 777)}}}},
    {"OnlyExactlyOneIsRunning",
     {{{on(10, 501)}, {}},
      {{Process{10, 501, 2u}}, {micJson(false, 501, recorder)}},
      {{Process{10, 501, 0xFFFFFFFFu}}, {}},
      {{on(10, 501)}, {micJson(true, 501, recorder)}}}},
    {"FailedInputReadCountsAsStopped",
     {{{on(10, 501)}, {}}, {{Process{10, 501, std::nullopt}}, {micJson(false, 501, recorder)}}}},
    {"PidBitsAreTakenWithTheirSign", {{{}, {}}, {{on(10, -2)}, {micJson(true, -2)}}}},
    {"ObjectIdZeroIsNotFilteredOut", {{{}, {}}, {{on(0, 501)}, {micJson(true, 501, recorder)}}}},
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const Timeline& c, std::ostream* os) { *os << c.name; }

class ProcessTimeline : public AudioWorld, public ::testing::WithParamInterface<Timeline> {};

TEST_P(ProcessTimeline, WritesExactlyTheChanges) {
  populate();
  const std::vector<Step>& steps = GetParam().steps;
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    sim::audio::setProcesses(steps[i].list);
    sim::audio::setListFailure(steps[i].failure);
    std::vector<nlohmann::json> written;
    if (i == 0) {
      OutputCapture capture;
      ProcessInputMonitor::start(monitor);
      written = parsedLines(capture);
    } else {
      written = tick();
    }
    EXPECT_EQ(written, steps[i].events) << "at poll " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Timelines, ProcessTimeline, ::testing::ValuesIn(timelines),
                         [](const auto& test) { return std::string(test.param.name); });

class ProcessInputMonitorTest : public AudioWorld {};

TEST_F(ProcessInputMonitorTest, StartPollsAtOnceAndThenOncePerInterval) {
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  EXPECT_EQ(sim::audio::polls(), 1);
  EXPECT_TRUE(loop::threads::timerScheduled());
  EXPECT_DOUBLE_EQ(loop::threads::timerInterval(), pollInterval);
  loop::threads::advance(pollInterval * 0.5);
  EXPECT_EQ(sim::audio::polls(), 1);
  loop::threads::advance(pollInterval * 3);
  EXPECT_EQ(sim::audio::polls(), 4);
}

TEST_F(ProcessInputMonitorTest, TimerDoesNotKeepTheMonitorAlive) {
  auto monitor = std::make_shared<ProcessInputMonitor>();
  const std::weak_ptr<ProcessInputMonitor> watch = monitor;
  ProcessInputMonitor::start(monitor);
  monitor.reset();
  EXPECT_TRUE(watch.expired());
  sim::audio::setProcesses({on(10, 501)});
  EXPECT_TRUE(tick().empty());
  EXPECT_EQ(sim::audio::polls(), 1);
}

// A quiet poll costs the list read and one input read per object: no pid is
// read again and no application is looked up.
TEST_F(ProcessInputMonitorTest, QuietPollsReadOnlyTheListAndInputStates) {
  populate();
  sim::audio::setProcesses({on(10, 501), off(11, 502), Process{12, std::nullopt, 0u}});
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  const long pidReadsAtStart = sim::audio::reads(property::processPid);
  EXPECT_EQ(pidReadsAtStart, 3);
  constexpr int quietPolls = 5;
  for (int i = 0; i < quietPolls; ++i) EXPECT_TRUE(tick().empty());
  EXPECT_EQ(sim::audio::sizeQueries(property::processObjectList), quietPolls + 1);
  EXPECT_EQ(sim::audio::reads(property::processObjectList), quietPolls + 1);
  EXPECT_EQ(sim::audio::reads(property::processIsRunningInput), 3 * (quietPolls + 1));
  // Only the object whose pid cannot be read is asked again.
  EXPECT_EQ(sim::audio::reads(property::processPid), pidReadsAtStart + quietPolls);
  EXPECT_EQ(sim::apps::lookups(), 0);
  EXPECT_EQ(sim::processes::queries(), 0);
}

TEST_F(ProcessInputMonitorTest, EmptyListIsNotReadAfterItsSizeQuery) {
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  tick();
  EXPECT_EQ(sim::audio::sizeQueries(property::processObjectList), 2);
  EXPECT_EQ(sim::audio::reads(property::processObjectList), 0);
}

TEST_F(ProcessInputMonitorTest, EachReportAsksForTheOwnerAfresh) {
  sim::processes::set({{502, 501, 501}});
  sim::audio::setProcesses({off(10, 502)});
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  sim::audio::setRunningInput(10, 1u);
  EXPECT_EQ(tick(), std::vector{micJson(true, 502)});
  sim::apps::add({501, platform::activationPolicyRegular, recorder.bundleId, recorder.name});
  sim::audio::setRunningInput(10, 0u);
  EXPECT_EQ(tick(), std::vector{micJson(false, 502, recorder)});
}

// The list loses its last object between the size query and the read: the
// trailing id 0 names no object, counts as not running, and the lost object
// is treated as gone.
TEST_F(ProcessInputMonitorTest, ListShrinkingDuringThePollIsHandled) {
  populate();
  sim::audio::setProcesses({on(10, 501), on(11, 502)});
  const auto monitor = std::make_shared<ProcessInputMonitor>();
  ProcessInputMonitor::start(monitor);
  sim::audio::setHook([](sim::audio::Moment moment) {
    if (moment == sim::audio::Moment::listRead) sim::audio::removeProcess(11);
  });
  EXPECT_EQ(tick(), std::vector{micJson(false, 502, recorder)});
  sim::audio::setHook(nullptr);
  EXPECT_TRUE(tick().empty());
}

}  // namespace
