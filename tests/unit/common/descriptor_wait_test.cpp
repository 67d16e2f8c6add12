// Waiting on one descriptor: every kind the agent may be handed as its input
// or output, at a low number and past FD_SETSIZE.
#include "common/descriptor_wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

using tondrel::Readiness;
using tondrel::waitForDescriptor;

namespace {

// Two connected descriptors: bytes written to `writer` become readable on
// `reader`.
struct Connected {
  int reader = -1;
  int writer = -1;
};

Connected makePipe() {
  int fds[2];
  if (pipe(fds) != 0) return {};
  return {fds[0], fds[1]};
}

Connected makeSocketPair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {};
  return {fds[0], fds[1]};
}

// A terminal: the agent's side is the terminal device, the other its master.
Connected makeTerminal() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
  const char* name = ptsname(master);
  if (name == nullptr) return {};
  const int device = open(name, O_RDWR | O_NOCTTY);
  return {device, master};
}

// Moves a descriptor to a number past what a plain fd_set holds.
int moveHigh(int descriptor, int past) {
  const int high = FD_SETSIZE + past;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur <= static_cast<rlim_t>(high)) {
    if (limit.rlim_max <= static_cast<rlim_t>(high)) return -1;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  }
  if (dup2(descriptor, high) != high) return -1;
  close(descriptor);
  return high;
}

struct Case {
  const char* name;
  Connected (*make)();
  bool high;
};

class DescriptorWait : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ends_ = GetParam().make();
    ASSERT_GE(ends_.reader, 0) << "could not make " << GetParam().name;
    ASSERT_GE(ends_.writer, 0);
    if (GetParam().high) {
      ends_.reader = moveHigh(ends_.reader, 476);
      ends_.writer = moveHigh(ends_.writer, 477);
      if (ends_.reader < 0 || ends_.writer < 0) {
        GTEST_SKIP() << "no descriptor numbers past FD_SETSIZE here";
      }
    }
    // Non-blocking, as a host may hand them over.
    ASSERT_EQ(fcntl(ends_.reader, F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(ends_.writer, F_SETFL, O_NONBLOCK), 0);
  }
  void TearDown() override {
    if (ends_.reader >= 0) close(ends_.reader);
    if (ends_.writer >= 0) close(ends_.writer);
  }

  // Runs the wait on a thread; answers whether it was still waiting a moment
  // after it started, and then what it answered once `makeReady` ran.
  static std::pair<bool, bool> waitAcross(int descriptor, Readiness readiness,
                                          const std::function<void()>& makeReady) {
    std::atomic<bool> returned{false};
    bool answer = false;
    std::thread waiter([&] {
      answer = waitForDescriptor(descriptor, readiness);
      returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool waited = !returned;
    makeReady();
    waiter.join();
    return {waited, answer};
  }

  Connected ends_;
};

TEST_P(DescriptorWait, WaitsUntilThereIsSomethingToRead) {
  char byte = 0;
  ASSERT_LT(read(ends_.reader, &byte, 1), 0) << "nothing should be there yet";
  const auto [waited, answer] = waitAcross(ends_.reader, Readiness::readable,
                                           [this] { ASSERT_EQ(write(ends_.writer, "x\n", 2), 2); });
  EXPECT_TRUE(waited) << "returned with nothing to read";
  EXPECT_TRUE(answer);
  EXPECT_EQ(read(ends_.reader, &byte, 1), 1);
}

TEST_P(DescriptorWait, TheEndOfInputCountsAsReadable) {
  close(ends_.writer);
  ends_.writer = -1;
  EXPECT_TRUE(waitForDescriptor(ends_.reader, Readiness::readable));
}

TEST_P(DescriptorWait, WaitsUntilAFullDescriptorTakesMore) {
  if (std::string(GetParam().name) == "terminal") {
    GTEST_SKIP() << "a terminal passes its output on by itself, so it does not stay full";
  }
  char block[4096] = {};
  while (write(ends_.writer, block, sizeof block) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  const auto [waited, answer] = waitAcross(ends_.writer, Readiness::writable, [this] {
    char sink[4096];
    while (read(ends_.reader, sink, sizeof sink) > 0) {
    }
  });
  EXPECT_TRUE(waited) << "returned while nothing could be written";
  EXPECT_TRUE(answer);
}

TEST_P(DescriptorWait, AClosedDescriptorCannotBeWaitedOn) {
  const int closed = ends_.reader;
  close(closed);
  ends_.reader = -1;
  EXPECT_FALSE(waitForDescriptor(closed, Readiness::readable));
  EXPECT_FALSE(waitForDescriptor(closed, Readiness::writable));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DescriptorWait,
    testing::Values(Case{"pipe", makePipe, false}, Case{"pipe", makePipe, true},
                    Case{"socket", makeSocketPair, false}, Case{"socket", makeSocketPair, true},
                    Case{"terminal", makeTerminal, false}, Case{"terminal", makeTerminal, true}),
    [](const testing::TestParamInfo<Case>& param) {
      return std::string(param.param.name) + (param.param.high ? "High" : "Low");
    });

TEST(DescriptorWaitOn, ANegativeNumberIsNotWaitedOn) {
  EXPECT_FALSE(waitForDescriptor(-1, Readiness::readable));
}

}  // namespace
