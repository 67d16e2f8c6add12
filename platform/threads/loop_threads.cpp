// The run loop and queues on plain threads, for builds without libdispatch and
// CFRunLoop. The main queue and the timer run on whichever thread calls
// loop::runMain() (or, on the manual clock, runPending()/advance()).
#include "platform/threads/loop_threads.h"

#include "platform/loop.h"
#include "platform/threads/thread_name.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  double interval = 0;  // unscaled seconds
  double next = 0;      // clock seconds of the next tick
  // False for the action of scheduleOnWake, which never ticks.
  bool ticks = true;
  std::unique_ptr<loop::Task> action;
};

struct MainLoop {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<loop::Task> tasks;
  std::unique_ptr<Timer> timer;
  bool manual = false;
  double speed = 1.0;
  double manualNow = 0;
  Clock::time_point origin = Clock::now();
  std::atomic<long> waits{0};
  std::atomic<long long> sleptMicros{0};

  double clockNow() const {
    if (manual) return manualNow;
    return std::chrono::duration<double>(Clock::now() - origin).count() * speed;
  }
};

MainLoop& mainLoop() {
  static MainLoop* instance = new MainLoop;  // threads may outlive main
  return *instance;
}

struct Queues {
  std::mutex lock;
  std::vector<loop::SerialQueue*> all;
};

std::atomic<loop::threads::WaitObserver> waitObserver{nullptr};

// Whether a poll that wakeMonitor() asked for still waits on the main queue.
std::atomic<bool> wakePending{false};

Queues& queues() {
  static Queues* instance = new Queues;
  return *instance;
}

[[noreturn]] void fail(const char* why) {
  std::fprintf(stderr, "threaded run loop: %s\n", why);
  std::abort();
}

// The longest the loop sleeps, or a wait sleeps, in one go. A tiny speed puts
// a deadline centuries away, past what the clock's nanosecond count holds
// (about 292 years), where the conversion would wrap into the past and the
// loop spin; in steps of a day it simply never arrives.
constexpr double longestSleep = 24 * 60 * 60;

Clock::time_point realDeadline(const MainLoop& m, double clockSeconds) {
  const Clock::time_point now = Clock::now();
  const double ahead =
      clockSeconds / m.speed - std::chrono::duration<double>(now - m.origin).count();
  // Also catches an infinite quotient (a speed of 1e-320).
  if (!(ahead < longestSleep)) {
    return now + std::chrono::seconds(static_cast<long>(longestSleep));
  }
  return now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(ahead));
}

// Pops one task if there is one; false when the queue is empty.
bool runOneTask(MainLoop& m) {
  loop::Task task;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.tasks.empty()) return false;
    task = std::move(m.tasks.front());
    m.tasks.pop_front();
  }
  task();
  return true;
}

}  // namespace

namespace loop {

class SerialQueue {
 public:
  explicit SerialQueue(const char* label) : label_(label) {
    std::thread([this] {
      platform::nameThisThread(label_.c_str());
      work();
    }).detach();
  }

  void submit(Task task) {
    std::lock_guard<std::mutex> guard(lock_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
  }

  void waitUntilIdle() {
    std::unique_lock<std::mutex> guard(lock_);
    idle_.wait(guard, [this] { return tasks_.empty() && !busy_; });
  }

 private:
  void work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      wake_.wait(guard, [this] { return !tasks_.empty(); });
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      busy_ = true;
      guard.unlock();
      task();
      task = nullptr;
      guard.lock();
      busy_ = false;
      if (tasks_.empty()) idle_.notify_all();
    }
  }

  std::string label_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Task> tasks_;
  bool busy_ = false;
};

void postMain(Task task) {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  m.tasks.push_back(std::move(task));
  m.wake.notify_all();
}

SerialQueue* createSerialQueue(const char* label) {
  auto* queue = new SerialQueue(label);  // lives until the process ends
  Queues& q = queues();
  std::lock_guard<std::mutex> guard(q.lock);
  q.all.push_back(queue);
  return queue;
}

void submit(SerialQueue* queue, Task task) { queue->submit(std::move(task)); }

void scheduleRepeatingTimer(double intervalSeconds, Task action) {
  if (!(intervalSeconds > 0)) fail("a repeating timer needs a positive interval");
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.timer) fail("only one repeating timer is supported");
  m.timer = std::make_unique<Timer>();
  m.timer->interval = intervalSeconds;
  m.timer->next = m.clockNow() + intervalSeconds;
  m.timer->action = std::make_unique<Task>(std::move(action));
  m.wake.notify_all();
}

void scheduleOnWake(Task action) {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.timer) fail("only one repeating timer is supported");
  m.timer = std::make_unique<Timer>();
  m.timer->ticks = false;
  m.timer->action = std::make_unique<Task>(std::move(action));
}

void wakeMonitor() {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  if (!m.timer || wakePending.exchange(true)) return;
  m.tasks.push_back([] {
    // Cleared first: a wake asked for while this poll runs gets a poll of its
    // own, so no change goes unseen.
    wakePending.store(false);
    Task* action = nullptr;
    {
      MainLoop& loop = mainLoop();
      std::lock_guard<std::mutex> held(loop.lock);
      if (loop.timer) action = loop.timer->action.get();
    }
    if (action != nullptr) (*action)();
  });
  m.wake.notify_all();
}

void runMain() {
  MainLoop& m = mainLoop();
  if (m.manual) fail("runMain() is for the real clock; step a manual clock with advance()");
  std::unique_lock<std::mutex> guard(m.lock);
  // After a tick, a waiting task goes first: a timer that is always due (a
  // huge speed, a slow machine) must not starve the input.
  bool tickedLast = false;
  for (;;) {
    const double now = m.clockNow();
    if (m.timer && m.timer->ticks && now >= m.timer->next && !(tickedLast && !m.tasks.empty())) {
      tickedLast = true;
      // Ticks missed while busy are skipped, not run in a burst.
      m.timer->next += m.timer->interval;
      if (m.timer->next <= now) m.timer->next = now + m.timer->interval;
      Task* action = m.timer->action.get();
      guard.unlock();
      (*action)();
      guard.lock();
      continue;
    }
    if (!m.tasks.empty()) {
      tickedLast = false;
      Task task = std::move(m.tasks.front());
      m.tasks.pop_front();
      guard.unlock();
      task();
      task = nullptr;
      guard.lock();
      continue;
    }
    tickedLast = false;
    if (m.timer && m.timer->ticks) {
      m.wake.wait_until(guard, realDeadline(m, m.timer->next));
    } else {
      m.wake.wait(guard);
    }
  }
}

void sleepFor(double seconds) {
  MainLoop& m = mainLoop();
  m.waits.fetch_add(1);
  m.sleptMicros.fetch_add(static_cast<long long>(seconds * 1e6 + 0.5));
  if (auto observer = waitObserver.load(std::memory_order_acquire)) observer(seconds);
  bool manual;
  double speed;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    manual = m.manual;
    speed = m.speed;
  }
  if (manual || !(seconds > 0)) return;
  for (double left = seconds / speed; left > 0; left -= longestSleep) {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, longestSleep)));
  }
}

}  // namespace loop

namespace loop::threads {

void useRealClock(double speed) {
  if (!(speed > 0)) fail("the speed must be positive");
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  m.manual = false;
  m.speed = speed;
  m.origin = Clock::now();
  m.tasks.clear();
  m.timer.reset();
  wakePending.store(false);
}

void useManualClock() {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  m.manual = true;
  m.speed = 1.0;
  m.manualNow = 0;
  m.tasks.clear();
  m.timer.reset();
  wakePending.store(false);
  m.waits.store(0);
  m.sleptMicros.store(0);
}

void runPending() {
  MainLoop& m = mainLoop();
  while (runOneTask(m)) {
  }
}

void advance(double seconds) {
  MainLoop& m = mainLoop();
  if (!m.manual) fail("advance() needs the manual clock");
  double target;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    target = m.manualNow + seconds;
  }
  for (;;) {
    runPending();
    ::loop::Task* action = nullptr;
    {
      std::lock_guard<std::mutex> guard(m.lock);
      // A small tolerance keeps repeated additions of 0.1 from missing a tick.
      if (m.timer && m.timer->ticks && m.timer->next <= target + 1e-9) {
        m.manualNow = m.timer->next;
        m.timer->next += m.timer->interval;
        action = m.timer->action.get();
      } else {
        m.manualNow = target;
      }
    }
    if (action == nullptr) break;
    (*action)();
  }
  runPending();
}

void fireTimer() {
  MainLoop& m = mainLoop();
  ::loop::Task* action = nullptr;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!m.manual) fail("fireTimer() needs the manual clock");
    if (m.timer) action = m.timer->action.get();
  }
  if (action == nullptr) fail("fireTimer() without a scheduled timer");
  (*action)();
}

double now() {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  return m.clockNow();
}

double totalSlept() { return static_cast<double>(mainLoop().sleptMicros.load()) / 1e6; }
long waitCount() { return mainLoop().waits.load(); }

bool timerScheduled() {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  return m.timer != nullptr;
}

double timerInterval() {
  MainLoop& m = mainLoop();
  std::lock_guard<std::mutex> guard(m.lock);
  return m.timer && m.timer->ticks ? m.timer->interval : 0;
}

void observeWaits(WaitObserver observer) {
  waitObserver.store(observer, std::memory_order_release);
}

void waitForQueues() {
  std::vector<::loop::SerialQueue*> all;
  {
    Queues& q = queues();
    std::lock_guard<std::mutex> guard(q.lock);
    all = q.all;
  }
  for (auto* queue : all) queue->waitUntilIdle();
}

}  // namespace loop::threads
