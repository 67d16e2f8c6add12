// Lines from chunks to replies: takeLines (input.cpp), handle and the page reader
// together, against a simulated Mac; and the exit at end of input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <nlohmann/json.hpp>

#include "agent/globals.h"
#include "agent/input.h"
#include "platform/loop.h"
#include "sim/accessibility.h"
#include "sim/running_apps.h"
#include "platform/threads/loop_threads.h"
#include "support/live_objects.h"
#include "support/output_capture.h"
#include "support/sim_world.h"

using namespace tondrel;

namespace {

using namespace std::string_literals;
using Replies = std::vector<std::string>;

const std::string fffd = "\xEF\xBF\xBD";

class Framing : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    startPageReader();
  }

  // Hands the chunks over one task each and answers the replies written.
  static Replies feed(const std::vector<std::string>& chunks) {
    OutputCapture capture;
    for (const std::string& chunk : chunks) takeLines(chunk);
    loop::threads::waitForQueues();
    return capture.lines();
  }

  static std::string reply(std::int64_t id, bool trusted = false, const std::string& urls = "[]") {
    return R"({"event":"page-urls","id":)" + std::to_string(id) + R"(,"trusted":)" +
           (trusted ? "true" : "false") + R"(,"urls":)" + urls + "}";
  }
};

std::string command(std::int64_t id) {
  return R"({"cmd":"page-urls","id":)" + std::to_string(id) + R"(,"pid":512})";
}

TEST_F(Framing, ACommandSplitOverChunksIsHandledOnceItsLineFeedArrives) {
  LiveObjectsUnchanged unchanged;
  const std::string line = command(7);
  OutputCapture capture;
  takeLines(line.substr(0, 5));
  takeLines(line.substr(5, 10));
  takeLines(line.substr(15));
  loop::threads::waitForQueues();
  EXPECT_EQ(sim::ax::trustChecks(), 0) << "handled before its line feed";
  EXPECT_EQ(buffered, line);
  takeLines("\n");
  loop::threads::waitForQueues();
  EXPECT_EQ(capture.lines(), Replies{reply(7)});
  EXPECT_EQ(buffered, "");
}

TEST_F(Framing, ChunkBoundariesDoNotMatter) {
  LiveObjectsUnchanged unchanged;
  const std::string stream = command(1) + "\n" + command(2) + "\r\n\n  \n" + command(3) + "\n";
  for (std::size_t size : {1u, 2u, 7u, 40u, 1000u}) {
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < stream.size(); at += size)
      chunks.push_back(stream.substr(at, size));
    EXPECT_EQ(feed(chunks), (Replies{reply(1), reply(2), reply(3)})) << "chunks of " << size;
  }
}

TEST_F(Framing, SeveralCommandsInOneChunkAreAnsweredInTheirOrder) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(feed({command(3) + "\n" + command(1) + "\n" + command(2) + "\n" + command(9)}),
            (Replies{reply(3), reply(1), reply(2)}));
  EXPECT_EQ(buffered, command(9)) << "the incomplete last line waits";
}

TEST_F(Framing, CarriageReturnsEmptyAndBlankLines) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(feed({command(1) + "\r\n"}), Replies{reply(1)});
  EXPECT_EQ(feed({"\n", "\n\n", "   \n", "\r\n", "\t \r\n"}), Replies{});
  EXPECT_EQ(sim::ax::trustChecks(), 1);
  // A carriage return anywhere but as whitespace is no longer JSON.
  EXPECT_EQ(feed({R"({"cmd":"page-urls",)"
                  "\r"
                  R"("id":2})"
                  "\n",
                  R"({"cmd":"page-urls)"
                  "\r"
                  R"(","id":3})"
                  "\n"}),
            Replies{reply(2)});
}

TEST_F(Framing, InvalidLinesAreSkippedAndTheNextOnesHandled) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(
      feed({"not json\n[1]\n" + command(4) + "\n{\"cmd\":\"page-urls\"}\n" + command(5) + "\n"}),
      (Replies{reply(4), reply(5)}));
}

TEST_F(Framing, IllFormedUtf8InsideAStringIsRepairedNotRejected) {
  LiveObjectsUnchanged unchanged;
  sim::ax::setTrusted(true);
  // The bundle identifier as repaired: each maximal ill-formed subpart of
  // "\xE2\x82" and "\xFF" becomes one U+FFFD.
  sim::apps::set(
      {{61, platform::activationPolicyRegular, "com.ex" + fffd + "am" + fffd + "ple", "App"}});
  sim::ax::Application app;
  app.pid = 61;
  app.manualAccessibility.read = sim::ax::answer(sim::ax::Value::ofBoolean(true));
  app.windows = {sim::ax::webArea("https://repaired/")};
  sim::ax::setApplication(app);
  EXPECT_EQ(feed({R"({"cmd":"page-urls","id":8,"bundleIds":["com.ex)"
                  "\xE2\x82"
                  "am"
                  "\xFF"
                  R"(ple"]})"
                  "\n"}),
            Replies{reply(8, true, R"(["https:\/\/repaired\/"])")});
}

TEST_F(Framing, ALongLineInManyChunks) {
  LiveObjectsUnchanged unchanged;
  const std::string line =
      R"({"cmd":"page-urls","id":6,"pad":")" + std::string(300000, 'x') + R"(","pid":1})";
  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < line.size(); at += 4096) chunks.push_back(line.substr(at, 4096));
  chunks.push_back("\n");
  EXPECT_EQ(feed(chunks), Replies{reply(6)});
}

}  // namespace

// End of input: the exit task.
namespace {

void saySo() {
  static const char text[] = "exit handlers ran\n";
  if (write(STDERR_FILENO, text, sizeof text - 1) < 0) {
  }
}

TEST(ExitAtEndOfInput, EndsWithStatusZeroWithoutExitHandlers) {
  EXPECT_EXIT(
      {
        std::atexit(saySo);
        exitAtEndOfInput();
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(ExitAtEndOfInput, WaitsForALineBeingWritten) {
  // A writer holds outputLock while it writes; the exit must let it finish.
  EXPECT_EXIT(
      {
        std::atomic<bool> holding{false};
        std::thread writer([&holding] {
          std::lock_guard<std::mutex> guard(outputLock);
          holding = true;
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          static const char text[] = "line finished\n";
          if (write(STDERR_FILENO, text, sizeof text - 1) < 0) {
          }
        });
        while (!holding) std::this_thread::yield();
        exitAtEndOfInput();
      },
      testing::ExitedWithCode(0), "line finished");
}

}  // namespace
