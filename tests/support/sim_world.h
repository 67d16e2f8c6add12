// The one starting point of every test that runs the agent against the
// simulated Mac: every part of the simulation reset (audio system, process
// table, application registry, OS version, accessibility, trace), the agent's
// globals as start-up leaves them before it picks a monitor, and time on the
// manual clock. Tests that make page requests start the page reader. At the
// end queued work is finished and everything is reset again; then no
// CoreFoundation object the test made may still be alive.
#pragma once

#include "agent/globals.h"
#include "platform/loop.h"
#include "platform/processes.h"
#include "platform/threads/loop_threads.h"
#include "sim/accessibility.h"
#include "sim/audio.h"
#include "sim/os_version.h"
#include "sim/processes.h"
#include "sim/running_apps.h"
#include "sim/trace.h"
#include "support/live_objects.h"

#include <gtest/gtest.h>

class SimWorld : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override {
    loop::threads::waitForQueues();
    reset();
  }

  // The queue page requests are answered on, for tests that make requests:
  // made once and kept, as the agent keeps it for its whole life. Not made
  // for the others, since it is a thread, and a test that forks must not
  // have one.
  static void startPageReader() {
    if (tondrel::pageReads == nullptr) {
      tondrel::pageReads = loop::createSerialQueue(tondrel::pageReadsLabel);
    }
  }

 private:
  static void reset() {
    loop::threads::useManualClock();
    sim::audio::reset();
    // The responsible-process function counts as not looked up yet, as
    // before start-up: the lookup finds none, then the system gets it back.
    sim::processes::setResponsibleFunctionPresent(false);
    platform::processes::prepare();
    sim::processes::reset();
    sim::apps::reset();
    sim::os::reset();
    sim::ax::reset();
    sim::trace::capture(false);
    tondrel::buffered.clear();
  }

  // Constructed before SetUp and checked after TearDown, so what the resets
  // release does not count against the test.
  LiveObjectsUnchanged live_;
};
