// The simulated Mac for each accessibility test: no applications, no
// permission, a manual clock (waits return at once but are counted and
// traced), and the trace captured.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "agent/accessibility/request_bounds.h"
#include "agent/globals.h"
#include "sim/accessibility.h"
#include "sim/running_apps.h"
#include "sim/trace.h"
#include "support/ax_builders.h"
#include "support/sim_world.h"

using namespace tondrel;

class AxWorld : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    startPageReader();
    sim::trace::capture(true);
  }

  // The bounds a request starts with.
  static RequestBounds requestBounds() {
    return RequestBounds(pageRequestSeconds, maxChildrenPerRequest);
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
