#include "platform/loop.h"
#include "platform/threads/loop_threads.h"
#include "sim/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ManualLoop : public testing::Test {
 protected:
  void SetUp() override { loop::threads::useManualClock(); }
  void TearDown() override { loop::threads::useManualClock(); }
};

TEST_F(ManualLoop, TasksRunInPostingOrderOnlyWhenTheLoopRuns) {
  std::vector<int> ran;
  for (int i = 0; i < 3; ++i) loop::postMain([&ran, i] { ran.push_back(i); });
  EXPECT_TRUE(ran.empty());
  loop::threads::runPending();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
}

TEST_F(ManualLoop, ATaskPostedByATaskRunsAfterThoseAlreadyWaiting) {
  std::vector<std::string> ran;
  loop::postMain([&] {
    ran.push_back("a");
    loop::postMain([&] { ran.push_back("c"); });
  });
  loop::postMain([&] { ran.push_back("b"); });
  loop::threads::runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(ManualLoop, TheTimerFiresOncePerIntervalOfAdvancedTime) {
  int ticks = 0;
  loop::scheduleRepeatingTimer(1.0, [&] { ++ticks; });
  loop::threads::advance(0.999);
  EXPECT_EQ(ticks, 0);
  loop::threads::advance(0.001);
  EXPECT_EQ(ticks, 1);
  loop::threads::advance(5.0);
  EXPECT_EQ(ticks, 6);
  for (int i = 0; i < 10; ++i) loop::threads::advance(0.1);
  EXPECT_EQ(ticks, 7);
  EXPECT_DOUBLE_EQ(loop::threads::timerInterval(), 1.0);
}

TEST_F(ManualLoop, TasksPostedBeforeATickRunBeforeIt) {
  std::vector<std::string> ran;
  loop::scheduleRepeatingTimer(1.0, [&] { ran.push_back("tick"); });
  loop::postMain([&] { ran.push_back("task"); });
  loop::threads::advance(1.0);
  EXPECT_EQ(ran, (std::vector<std::string>{"task", "tick"}));
}

TEST_F(ManualLoop, AWakeRunsTheTimersActionOnceOnTheMainQueue) {
  std::vector<std::string> ran;
  // Before the timer exists there is nothing to wake.
  loop::wakeMonitor();
  loop::threads::runPending();
  EXPECT_TRUE(ran.empty());

  loop::scheduleRepeatingTimer(1.0, [&] { ran.push_back("poll"); });
  loop::postMain([&] { ran.push_back("before"); });
  // Wakes asked for before the poll runs are one poll, after what waited.
  loop::wakeMonitor();
  loop::wakeMonitor();
  loop::wakeMonitor();
  EXPECT_TRUE(ran.empty());
  loop::threads::runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"before", "poll"}));
  // Once it ran, a new wake is a new poll; the timer keeps its own ticks.
  loop::wakeMonitor();
  loop::threads::advance(1.0);
  EXPECT_EQ(ran, (std::vector<std::string>{"before", "poll", "poll", "poll"}));
}

TEST_F(ManualLoop, AWakeAskedForDuringThePollGetsAPollOfItsOwn) {
  int polls = 0;
  loop::scheduleRepeatingTimer(1.0, [&] {
    if (++polls == 1) loop::wakeMonitor();  // a change seen while polling
  });
  loop::wakeMonitor();
  loop::threads::runPending();
  EXPECT_EQ(polls, 2);
}

TEST_F(ManualLoop, AnActionRunOnlyOnWakeNeverTicks) {
  int polls = 0;
  loop::scheduleOnWake([&] { ++polls; });
  EXPECT_TRUE(loop::threads::timerScheduled());
  EXPECT_EQ(loop::threads::timerInterval(), 0.0);
  loop::threads::advance(3600.0);
  EXPECT_EQ(polls, 0);
  loop::wakeMonitor();
  loop::wakeMonitor();
  loop::threads::advance(10.0);
  EXPECT_EQ(polls, 1);
  loop::wakeMonitor();
  loop::threads::runPending();
  EXPECT_EQ(polls, 2);
}

TEST_F(ManualLoop, WaitsReturnAtOnceAndAreCountedAndTraced) {
  sim::trace::capture(true);
  loop::sleepFor(0.3);
  loop::sleepFor(0.3);
  EXPECT_EQ(loop::threads::waitCount(), 2);
  EXPECT_NEAR(loop::threads::totalSlept(), 0.6, 1e-9);
  const auto entries = sim::trace::take();
  sim::trace::capture(false);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], R"({"event":"wait","seconds":0.3})");
}

}  // namespace
