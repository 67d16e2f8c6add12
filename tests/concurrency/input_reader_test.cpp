// Standard input read on the platform's reader thread while the main thread
// frames and handles lines and the page reader answers them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
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
    resetMostInputHeld();
  }

  // Steps the main thread's run loop by hand until `done` holds; false if it
  // never does within a generous time.
  static bool runMainUntil(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      loop::threads::runPending();
      std::this_thread::yield();
    }
    return true;
  }

  // Waits, without running the main thread's tasks, until `done` holds.
  static bool waitUntil(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // Every reply a page-urls reply, ids 0 to count - 1 in order.
  static void expectRepliesInOrder(const std::vector<std::string>& lines, std::int64_t count) {
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto reply = nlohmann::json::parse(lines[i], nullptr, false);
      ASSERT_FALSE(reply.is_discarded()) << lines[i];
      ASSERT_EQ(reply["id"], static_cast<std::int64_t>(i));
    }
  }
};

// A host that writes `stream` as fast as the pipe takes it, on a thread of its
// own; `finished` says when its last write returned.
struct Host {
  explicit Host(std::string stream) {
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe() failed";
    writer = std::thread([this, stream = std::move(stream)] {
      std::size_t at = 0;
      while (at < stream.size()) {
        const ssize_t n = write(fds[1], stream.data() + at, stream.size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      finished = true;
    });
  }
  // Stops reading before the write end closes, so end of input (whose exit
  // would end the test process) is never seen. A test that failed half way
  // leaves the writer waiting: what is left is read here.
  ~Host() {
    loop::setReadabilityHandler(fds[0], nullptr);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    char sink[4096];
    while (!finished) {
      if (read(fds[0], sink, sizeof sink) <= 0) std::this_thread::yield();
    }
    if (writer.joinable()) writer.join();
    close(fds[1]);
    close(fds[0]);
  }
  int fds[2] = {-1, -1};
  std::atomic<bool> finished{false};
  std::thread writer;
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

namespace {

// The reader stops while what it read waits on the main thread: the host's
// writes wait in the pipe, and once the main thread catches up every line is
// handled, in order. The lines are long, as lines that take the main thread
// long to reject are.
TEST_F(InputReader, AHostWritingFasterThanLinesAreFramedWaits) {
  constexpr std::int64_t commands = 160;
  std::string stream;
  for (std::int64_t i = 0; i < commands; ++i) {
    stream += R"({"cmd":"page-urls","id":)" + std::to_string(i) + R"(,"pad":")" +
              std::string(100 * 1000, 'x') + R"(","pid":1})" + "\n";
  }
  ASSERT_GT(stream.size(), 3 * inputBound);

  OutputCapture capture;
  Host host(std::move(stream));
  loop::setReadabilityHandler(host.fds[0], readChunk);
  // Nothing runs on the main thread yet: the reader fills its budget and stops.
  ASSERT_TRUE(waitUntil([] { return inputHeld().now + chunkSize > chunkBudget; }));
  EXPECT_FALSE(host.finished) << "the host's writes did not wait";

  ASSERT_TRUE(runMainUntil([] { return sim::ax::trustChecks() >= commands; }));
  host.writer.join();
  EXPECT_TRUE(host.finished);
  loop::threads::waitForQueues();
  expectRepliesInOrder(capture.lines(), commands);
  EXPECT_LE(inputHeld().most, inputBound);
  EXPECT_EQ(inputHeld().now, 0u);
  EXPECT_EQ(buffered, "");
}

// Requests wait for the page reader, which is held up here by a reply being
// written (outputLock): short commands that cost the agent more than their
// bytes stop the reader once their budget is used, not the host's patience.
TEST_F(InputReader, AHostAskingFasterThanPagesAreReadWaits) {
  constexpr std::int64_t commands = 40000;
  std::string stream;
  for (std::int64_t i = 0; i < commands; ++i) {
    stream += R"({"cmd":"page-urls","id":)" + std::to_string(i) + "}\n";
  }
  ASSERT_GT((stream.size() / shortestCommand + 1) * requestCost(0), 2 * inputBound)
      << "without a bound the requests would exceed it";

  OutputCapture capture;
  std::unique_lock<std::mutex> replying(outputLock);
  Host host(std::move(stream));
  loop::setReadabilityHandler(host.fds[0], readChunk);
  ASSERT_TRUE(runMainUntil([] { return inputHeld().now > requestBudget; }));
  // The reader is stopped now; what it had read is framed here.
  loop::threads::runPending();
  EXPECT_FALSE(host.finished) << "the host's writes did not wait";
  EXPECT_LE(inputHeld().most, inputBound);

  replying.unlock();
  ASSERT_TRUE(runMainUntil([] { return sim::ax::trustChecks() >= commands; }));
  host.writer.join();
  loop::threads::runPending();
  loop::threads::waitForQueues();
  expectRepliesInOrder(capture.lines(), commands);
  EXPECT_LE(inputHeld().most, inputBound);
  EXPECT_EQ(inputHeld().now, 0u);
}

}  // namespace
