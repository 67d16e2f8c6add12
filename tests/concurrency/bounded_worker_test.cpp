// The worker that runs every call into the accessibility libraries: callers
// get their answer by their deadline whatever the job does, a job given up
// before it began never runs, one given up while running has what it made
// freed, and nobody queues behind a job that is stuck.
#include "platform/linux/bounded_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::BoundedWorker;
using namespace std::chrono_literals;

// A gate a job waits at until the test opens it.
class Gate {
 public:
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void open() {
    const std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST(BoundedWorker, JobsEndInTimeAndRunInOrder) {
  BoundedWorker worker;
  std::vector<int> order;  // only touched on the worker, read after a run
  for (int i = 0; i < 3; ++i) worker.post([&order, i] { order.push_back(i); });
  EXPECT_TRUE(worker.run([&order] { order.push_back(3); }, BoundedWorker::Clock::now() + 10s));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(worker.stuck());
}

TEST(BoundedWorker, AStuckJobCostsEachCallerNoMoreThanItsOwnDeadline) {
  BoundedWorker worker;
  Gate gate;
  std::promise<void> freed;
  const auto started = BoundedWorker::Clock::now();
  EXPECT_FALSE(
      worker.run([&gate] { gate.wait(); }, started + 100ms, [&freed] { freed.set_value(); }));
  EXPECT_GE(BoundedWorker::Clock::now() - started, 100ms);
  EXPECT_TRUE(worker.stuck());

  // A later caller waits behind it no longer than its own deadline, and its
  // job then never runs...
  std::atomic<bool> ran{false};
  EXPECT_FALSE(worker.run([&ran] { ran = true; }, BoundedWorker::Clock::now() + 100ms));
  // ...and runs as soon as the stuck job ends within that deadline.
  auto opener = std::async(std::launch::async, [&gate] {
    std::this_thread::sleep_for(50ms);
    gate.open();
  });
  EXPECT_TRUE(worker.run([] {}, BoundedWorker::Clock::now() + 10s));
  freed.get_future().wait();  // what the stuck job made was freed after it
  EXPECT_FALSE(worker.stuck());
  EXPECT_FALSE(ran);
}

TEST(BoundedWorker, AJobGivenUpBeforeItBeganNeverRuns) {
  BoundedWorker worker;
  Gate gate;
  std::atomic<bool> slowEnded{false};
  // A slow job nobody gives up (a release, say) holds the worker.
  worker.post([&] {
    gate.wait();
    slowEnded = true;
  });
  std::atomic<bool> ran{false};
  std::atomic<bool> freed{false};
  EXPECT_FALSE(worker.run([&ran] { ran = true; }, BoundedWorker::Clock::now() + 50ms,
                          [&freed] { freed = true; }));
  EXPECT_FALSE(worker.stuck());  // the slow job was not given up
  gate.open();
  EXPECT_TRUE(worker.run([] {}, BoundedWorker::Clock::now() + 10s));
  EXPECT_TRUE(slowEnded);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(freed);
}

TEST(BoundedWorker, ManyCallersEachGetTheirOwnAnswer) {
  BoundedWorker worker;
  std::vector<std::future<int>> answers;
  for (int i = 0; i < 8; ++i) {
    answers.push_back(std::async(std::launch::async, [&worker, i] {
      auto value = std::make_shared<int>(-1);
      const bool ended =
          worker.run([value, i] { *value = i * i; }, BoundedWorker::Clock::now() + 10s);
      return ended ? *value : -2;
    }));
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(answers[static_cast<std::size_t>(i)].get(), i * i);
}

TEST(BoundedWorker, WaitsIdleInTheLibrarysOwnWayAndIsWokenForWork) {
  // Stands for a main context's iteration and wake-up; outlives the worker.
  std::mutex mutex;
  std::condition_variable woken;
  int wakeups = 0;
  std::atomic<int> idleWaits{0};
  BoundedWorker worker;
  EXPECT_TRUE(worker.run(
      [&] {
        worker.setIdle(
            [&] {
              ++idleWaits;
              std::unique_lock<std::mutex> lock(mutex);
              woken.wait(lock, [&] { return wakeups > 0; });
              --wakeups;
            },
            [&] {
              const std::lock_guard<std::mutex> lock(mutex);
              ++wakeups;
              woken.notify_all();
            });
      },
      BoundedWorker::Clock::now() + 10s));
  // Work that comes at once, while the worker may still be waiting a moment
  // after its last job, and once it is back in the idle wait: none of it is
  // left waiting for a wake-up that never comes.
  const auto backInIdleWait = [&] {
    const int before = idleWaits.load();
    const auto until = BoundedWorker::Clock::now() + 10s;
    while (idleWaits.load() == before && BoundedWorker::Clock::now() < until) {
      std::this_thread::sleep_for(100us);
    }
    return idleWaits.load() > before;
  };
  enum class Comes { atOnce, soon, whenIdle };
  for (const Comes comes : {Comes::atOnce, Comes::soon, Comes::whenIdle}) {
    for (int i = 0; i < 40; ++i) {
      if (comes == Comes::soon) std::this_thread::sleep_for(1ms);
      if (comes == Comes::whenIdle) {
        ASSERT_TRUE(backInIdleWait()) << i;
      }
      EXPECT_TRUE(worker.run([] {}, BoundedWorker::Clock::now() + 10s))
          << static_cast<int>(comes) << " " << i;
    }
  }
  // Posted work that nobody waits for is woken for too.
  ASSERT_TRUE(backInIdleWait());
  std::promise<void> posted;
  worker.post([&posted] { posted.set_value(); });
  EXPECT_EQ(posted.get_future().wait_for(10s), std::future_status::ready);
}

}  // namespace
