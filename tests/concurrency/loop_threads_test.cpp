#include "platform/loop.h"
#include "platform/threads/loop_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

TEST(SerialQueue, RunsOneTaskAtATimeInSubmissionOrder) {
  loop::SerialQueue* queue = loop::createSerialQueue("test.serial");
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> order;  // touched only by the queue's tasks
  for (int i = 0; i < 500; ++i) {
    loop::submit(queue, [&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      order.push_back(i);
      inside.fetch_sub(1);
    });
  }
  loop::threads::waitForQueues();
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

// Backends call wakeMonitor from their own threads while the main thread
// polls: every poll runs on the main thread, wakes coalesce, and none is left
// stuck once they stop.
TEST(WakeMonitor, FromManyThreadsWhileTheMainThreadPolls) {
  loop::threads::useManualClock();
  const std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<long> polls{0};
  std::atomic<bool> offMain{false};
  loop::scheduleRepeatingTimer(1.0, [&] {
    if (std::this_thread::get_id() != mainThread) offMain = true;
    polls.fetch_add(1);
  });
  constexpr int threads = 4;
  constexpr int wakesEach = 2000;
  std::atomic<int> running{threads};
  std::vector<std::thread> wakers;
  for (int t = 0; t < threads; ++t) {
    wakers.emplace_back([&] {
      for (int i = 0; i < wakesEach; ++i) loop::wakeMonitor();
      running.fetch_sub(1);
    });
  }
  while (running.load() > 0) loop::threads::runPending();
  for (std::thread& waker : wakers) waker.join();
  loop::threads::runPending();
  const long seen = polls.load();
  EXPECT_GE(seen, 1);
  EXPECT_LE(seen, threads * wakesEach);
  EXPECT_FALSE(offMain);
  loop::wakeMonitor();
  loop::threads::runPending();
  EXPECT_EQ(polls.load(), seen + 1);
  loop::threads::useManualClock();
}

std::mutex chunksLock;
std::vector<std::string> chunks;
std::atomic<bool> ended{false};

void collect(int descriptor) {
  char buffer[256];
  const ssize_t n = read(descriptor, buffer, sizeof buffer);
  if (n > 0) {
    std::lock_guard<std::mutex> guard(chunksLock);
    chunks.emplace_back(buffer, static_cast<std::size_t>(n));
    return;
  }
  loop::setReadabilityHandler(descriptor, nullptr);
  ended = true;
}

TEST(ReadabilityHandler, SeesEveryByteThenTheEndAndIsNotCalledAgain) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  loop::setReadabilityHandler(fds[0], collect);
  const std::string sent = "one\ntwo\nthree\n";
  for (char c : sent) {
    ASSERT_EQ(write(fds[1], &c, 1), 1);
  }
  close(fds[1]);
  for (int i = 0; i < 500 && !ended; ++i) usleep(10000);
  ASSERT_TRUE(ended);
  std::string received;
  {
    std::lock_guard<std::mutex> guard(chunksLock);
    for (const auto& chunk : chunks) received += chunk;
  }
  EXPECT_EQ(received, sent);
  close(fds[0]);
}

}  // namespace
