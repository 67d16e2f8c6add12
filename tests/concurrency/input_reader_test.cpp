// Standard input read on the platform's reader thread while the main thread
// frames and handles lines and the page reader answers them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "agent/globals.h"
#include "agent/input.h"
#include "platform/loop.h"
#include "sim/accessibility.h"
#include "platform/threads/loop_threads.h"
#include "support/output_capture.h"
#include "support/sim_world.h"

using namespace tondrel;

namespace {

class InputReader : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    startPageReader();
  }
};

TEST_F(InputReader, CommandsWrittenInPiecesAreAnsweredOnceEachInOrder) {
  constexpr std::int64_t commands = 300;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);

  OutputCapture capture;
  loop::setReadabilityHandler(fds[0], readChunk);
  std::thread host([fd = fds[1]] {
    std::string stream;
    for (std::int64_t i = 0; i < commands; ++i) {
      stream += R"({"cmd":"page-urls","id":)" + std::to_string(i) + R"(,"pid":)" +
                std::to_string(100 + i) + (i % 3 == 0 ? "}\r\n" : "}\n");
    }
    // Pieces of changing size, so lines are cut at every kind of place.
    std::size_t at = 0;
    for (std::size_t piece = 1; at < stream.size(); piece = piece % 97 + 1) {
      const std::size_t n = std::min(piece, stream.size() - at);
      ASSERT_EQ(write(fd, stream.data() + at, n), static_cast<ssize_t>(n));
      at += n;
    }
  });

  // The main thread's run loop, stepped by hand until every reply is in.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (sim::ax::trustChecks() < commands && std::chrono::steady_clock::now() < giveUp) {
    loop::threads::runPending();
    std::this_thread::yield();
  }
  host.join();
  // Removed before the write end closes, so end of input is never seen here:
  // its exit would end the test process.
  loop::setReadabilityHandler(fds[0], nullptr);
  close(fds[1]);
  loop::threads::runPending();
  loop::threads::waitForQueues();

  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(commands));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto reply = nlohmann::json::parse(lines[i], nullptr, false);
    ASSERT_FALSE(reply.is_discarded()) << lines[i];
    EXPECT_EQ(reply["id"], static_cast<std::int64_t>(i));
    EXPECT_EQ(reply["trusted"], false);
  }
  EXPECT_EQ(buffered, "");
  close(fds[0]);
}

}  // namespace
