// One thread that runs the jobs it is given, in order, for libraries that
// must only ever be called from one thread (libatspi, and libdbus through
// it), while each caller waits for its own job at most until a deadline of
// its own.
//
// A library call can wait far longer than its caller may (libdbus's default
// of 25 s on a bus that never answers, or for ever): the caller then gets its
// answer ("no answer in time") at its deadline, and the job runs on until the
// library returns. Later callers queue behind it, each again no longer than
// its own deadline, so every call is bounded however long the library takes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class BoundedWorker {
 public:
  using Clock = std::chrono::steady_clock;
  using Job = std::function<void()>;

  // `name` names the thread (see platform::nameThisThread).
  explicit BoundedWorker(const char* name = "tondrel-calls");
  // Waits for the job under way and drops the ones queued. A worker whose
  // job may never end (the agent's) is never destroyed.
  ~BoundedWorker();
  BoundedWorker(const BoundedWorker&) = delete;
  BoundedWorker& operator=(const BoundedWorker&) = delete;

  // Runs `job` on the worker and waits for it until `deadline`. True when the
  // job ran to its end in time. False when the deadline passed: a job that
  // had not begun then never runs; one under way runs on, and `late` runs on
  // the worker after it (to free what the job made for a caller that is no
  // longer there).
  bool run(Job job, Clock::time_point deadline, Job late = {});

  // Queues a job that nobody waits for.
  void post(Job job);

  // How the worker waits while it has nothing to do, instead of sleeping:
  // `wait` blocks until there may be work (or any time sooner) and `wake`
  // makes a current or the next `wait` return. Set from a job, once the
  // library that provides them is loaded; a library that needs its events
  // handled on its thread handles them there.
  void setIdle(Job wait, Job wake);

  // Whether a job its caller gave up is still running.
  bool stuck() const;

 private:
  struct Task;
  void loop();
  void enqueue(const std::shared_ptr<Task>& task);

  mutable std::mutex mutex_;
  std::condition_variable workToDo_;
  std::condition_variable taskDone_;
  std::deque<std::shared_ptr<Task>> queue_;
  std::shared_ptr<Task> current_;
  Job idleWait_;
  Job idleWake_;
  bool stopping_ = false;
  bool inIdleWait_ = false;  // the worker is in idleWait_, or about to be
  std::thread thread_;
};

}  // namespace platform
