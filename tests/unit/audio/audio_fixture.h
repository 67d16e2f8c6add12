// A simulated Mac for the microphone tests: an empty audio system, process
// table and application registry, the responsible-process function looked up
// as start-up does, and time on the manual clock.
#pragma once

#include "agent/globals.h"
#include "sim/running_apps.h"
#include "sim/audio.h"
#include "sim/os_version.h"
#include "sim/processes.h"
#include "support/output_capture.h"
#include "support/sim_world.h"

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
  nlohmann::json event = {{"event", "mic"},    {"running", running},  {"pid", nullptr},
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

class AudioWorld : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    lookUpResponsibleFunction();
  }

  // As start-up does it, so a test sees what the agent would.
  static void lookUpResponsibleFunction() { platform::processes::prepare(); }

  // The events that one timer tick of the monitor writes.
  static std::vector<nlohmann::json> tick() {
    OutputCapture capture;
    loop::threads::advance(pollInterval);
    return parsedLines(capture);
  }
};
