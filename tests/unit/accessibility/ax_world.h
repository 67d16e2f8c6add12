// A clean simulated Mac for each accessibility test: no applications, no
// permission, a manual clock (waits return at once but are counted and
// traced) and a captured trace.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "agent/globals.h"
#include "platform/loop.h"
#include "sim/accessibility.h"
#include "sim/apps.h"
#include "platform/threads/loop_threads.h"
#include "sim/trace.h"

using namespace tondrel;

class AxWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ax::reset();
    sim::apps::reset();
    loop::threads::useManualClock();
    sim::trace::capture(true);
    if (pageReads == nullptr) pageReads = loop::createSerialQueue(pageReadsLabel);
  }
  void TearDown() override {
    loop::threads::waitForQueues();
    sim::trace::capture(false);
    sim::ax::reset();
    sim::apps::reset();
  }

  // What the agent did to other applications, oldest first, in a short form:
  // "timeout 1 application", "set AXManualAccessibility true ok", "walk 1",
  // "wait 0.3".
  static std::vector<std::string> actions() {
    std::vector<std::string> out;
    for (const std::string& entry : sim::trace::take()) {
      const auto e = nlohmann::json::parse(entry);
      const std::string event = e.value("event", "");
      if (event == "messaging-timeout") {
        out.push_back("timeout " + number(e["seconds"]) + " " + e["element"].get<std::string>());
      } else if (event == "set-attribute") {
        out.push_back("set " + e["attribute"].get<std::string>() + " " + e["value"].dump() +
                      (e["result"].get<int>() == 0 ? " ok" : " refused"));
      } else if (event == "walk") {
        out.push_back("walk " + e["walk"].dump());
      } else if (event == "wait") {
        out.push_back("wait " + number(e["seconds"]));
      }
    }
    return out;
  }

 private:
  static std::string number(const nlohmann::json& value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value.get<double>());
    return text;
  }
};
