// A simulated Mac for the microphone tests: an empty audio system, process
// table and application registry, the responsible-process function looked up
// as start-up does, and time on the manual clock.
#pragma once

#include "agent/globals.h"
#include "sim/apps.h"
#include "sim/audio.h"
#include "platform/threads/loop_threads.h"
#include "sim/os_version.h"
#include "sim/processes.h"
#include "sim/trace.h"
#include "support/live_objects.h"
#include "support/output_capture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dlfcn.h>

#include <optional>
#include <string>
#include <vector>

using namespace tondrel;

struct ExpectedApp {
  pid_t pid = 0;
  std::string bundleId;
  std::optional<std::string> name;
};

// The wire form of a `mic` event, for comparison with what was written.
inline nlohmann::json micJson(bool running, std::optional<pid_t> pid = std::nullopt,
                              const std::optional<ExpectedApp>& app = std::nullopt) {
  nlohmann::json event = {{"event", "mic"}, {"running", running}, {"pid", nullptr},
                          {"appPid", nullptr}, {"bundleId", nullptr}, {"appName", nullptr}};
  if (pid) event["pid"] = *pid;
  if (app) {
    event["appPid"] = app->pid;
    event["bundleId"] = app->bundleId;
    if (app->name) event["appName"] = *app->name;
  }
  return event;
}

// Each line parsed on its own, so key order does not matter.
inline std::vector<nlohmann::json> parsedLines(OutputCapture& capture) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : capture.lines()) {
    events.push_back(nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false));
  }
  return events;
}

class AudioWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    resetWorld();
    lookUpResponsibleFunction();
  }
  void TearDown() override {
    resetWorld();
    responsibleForPid = nullptr;
  }

  // As start-up does it, so a test sees what the agent would.
  static void lookUpResponsibleFunction() {
    responsibleForPid = reinterpret_cast<ResponsibleForPid>(
        dlsym(RTLD_DEFAULT, sim::processes::responsibleFunctionName));
  }

  // The events that one timer tick of the monitor writes.
  static std::vector<nlohmann::json> tick() {
    OutputCapture capture;
    loop::threads::advance(pollInterval);
    return parsedLines(capture);
  }

 private:
  static void resetWorld() {
    loop::threads::useManualClock();
    sim::audio::reset();
    sim::apps::reset();
    sim::processes::reset();
    sim::os::reset();
    sim::trace::capture(false);
  }

  LiveObjectsUnchanged live_;
};
