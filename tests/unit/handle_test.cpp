// What handle() turns a valid command into: which pids are read, and that
// nothing happens for an invalid one.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/globals.h"
#include "agent/handle.h"
#include "platform/loop.h"
#include "sim/accessibility.h"
#include "sim/running_apps.h"
#include "platform/threads/loop_threads.h"
#include "support/live_objects.h"
#include "support/output_capture.h"
#include "support/sim_world.h"

using namespace tondrel;

namespace {

class Handle : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    startPageReader();
    sim::ax::setTrusted(true);
    // Each application shows one page named after its pid.
    for (pid_t pid : {512, 601, 602, 700}) {
      sim::ax::Application app;
      app.pid = pid;
      app.manualAccessibility.read = sim::ax::answer(sim::ax::Value::ofBoolean(true));
      app.windows = {sim::ax::webArea("https://pid/" + std::to_string(pid))};
      sim::ax::setApplication(app);
    }
    sim::apps::set({{601, platform::activationPolicyRegular, "com.example.browser", "Browser"},
                    {700, platform::activationPolicyRegular, "com.example.other", "Other"},
                    {602, platform::activationPolicyRegular, "com.example.browser", "Browser"}});
  }
  // The URLs of the one reply to the line, or nothing when there is none.
  static std::optional<std::vector<std::string>> urlsFor(const std::string& line) {
    OutputCapture capture;
    handle(line);
    loop::threads::waitForQueues();
    const auto lines = capture.lines();
    if (lines.empty()) return std::nullopt;
    EXPECT_EQ(lines.size(), 1u);
    return nlohmann::json::parse(lines[0])["urls"].get<std::vector<std::string>>();
  }
};

TEST_F(Handle, PidTakesPrecedenceOverBundleIds) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(urlsFor(R"({"cmd":"page-urls","id":1,"bundleIds":["com.example.browser"],"pid":512})"),
            std::vector<std::string>{"https://pid/512"});
  EXPECT_EQ(sim::apps::lookups(), 0) << "bundle identifiers were resolved";
}

TEST_F(Handle, BundleIdsResolveInTheirOrderAndThePlatformsOrder) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(urlsFor(R"({"cmd":"page-urls","id":1,"pid":null,)"
                    R"("bundleIds":["com.example.browser","com.example.other"]})"),
            (std::vector<std::string>{"https://pid/601", "https://pid/602", "https://pid/700"}));
  EXPECT_EQ(urlsFor(R"({"cmd":"page-urls","id":2,"pid":"512","bundleIds":["com.example.other"]})"),
            std::vector<std::string>{"https://pid/700"});
}

TEST_F(Handle, UnusableBundleIdsAreAnsweredWithNoUrls) {
  LiveObjectsUnchanged unchanged;
  for (const std::string line :
       {R"({"cmd":"page-urls","id":1})",
        R"({"cmd":"page-urls","id":1,"bundleIds":"com.example.other"})",
        R"({"cmd":"page-urls","id":1,"bundleIds":["com.example.other",7]})",
        R"({"cmd":"page-urls","id":1,"bundleIds":["com.example.missing"]})"}) {
    EXPECT_EQ(urlsFor(line), std::vector<std::string>{}) << line;
  }
  EXPECT_EQ(sim::ax::applicationElementsCreated(), 0);
}

TEST_F(Handle, InvalidLinesTouchNothing) {
  LiveObjectsUnchanged unchanged;
  for (const std::string line :
       {R"({"cmd":"page-urls","id":7.5,"bundleIds":["com.example.other"]})",
        R"({"cmd":"page-urls","id":1,"pid":true,"bundleIds":["com.example.other"]})",
        R"({"cmd":"page-urls","id":1,"pid":4294967808,"bundleIds":["com.example.other"]})",
        R"({"cmd":"Page-URLs","id":1,"bundleIds":["com.example.other"]})"}) {
    EXPECT_EQ(urlsFor(line), std::nullopt) << line;
  }
  EXPECT_EQ(sim::apps::lookups(), 0);
  EXPECT_EQ(sim::ax::trustChecks(), 0);
}

}  // namespace
