// Replies written on the page reader while the main thread writes microphone
// events: every line must come out whole, and none may be lost.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "agent/emit.h"
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

class PageRepliesWithMicEvents : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    startPageReader();
  }
};

TEST_F(PageRepliesWithMicEvents, EveryLineWholeAndNothingLost) {
  constexpr std::int64_t requests = 150;
  constexpr std::int64_t micEvents = 600;
  sim::ax::setTrusted(true);
  // Replies well past the pipe's atomic write size, so a reply written in
  // pieces would show up torn.
  sim::ax::Application app;
  app.pid = 512;
  app.manualAccessibility.read = sim::ax::answer(sim::ax::Value::ofBoolean(true));
  std::vector<sim::ax::NodePtr> pages;
  for (int i = 0; i < 20; ++i) {
    pages.push_back(sim::ax::webArea("https://example.com/" + std::to_string(i) + "/" +
                                     std::string(1000, 'p')));
  }
  app.windows = {sim::ax::element("AXWindow", std::move(pages))};
  sim::ax::setApplication(app);

  std::vector<std::string> lines;
  {
    LiveObjectsUnchanged unchanged;
    OutputCapture capture;
    for (std::int64_t i = 0; i < micEvents; ++i) {
      if (i % (micEvents / requests) == 0) {
        handle(R"({"cmd":"page-urls","pid":512,"id":)" +
               std::to_string(i / (micEvents / requests)) + "}");
      }
      emit({{"event", std::string("mic")},
            {"running", i % 2 == 0},
            {"pid", std::int64_t{1000} + i},
            {"appPid", std::monostate{}},
            {"bundleId", std::monostate{}},
            {"appName", std::monostate{}}});
    }
    loop::threads::waitForQueues();
    lines = capture.lines();
  }

  ASSERT_EQ(lines.size(), static_cast<std::size_t>(requests + micEvents));
  std::int64_t nextReply = 0;
  std::int64_t nextMic = 1000;
  for (const std::string& line : lines) {
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << "torn line: " << line.substr(0, 80);
    if (parsed["event"] == "page-urls") {
      EXPECT_EQ(parsed["id"], nextReply++);
      EXPECT_EQ(parsed["urls"].size(), 20u);
    } else {
      ASSERT_EQ(parsed["event"], "mic");
      EXPECT_EQ(parsed["pid"], nextMic++);
    }
  }
  EXPECT_EQ(nextReply, requests);
  EXPECT_EQ(nextMic, 1000 + micEvents);
}

}  // namespace
