#include "platform/linux/bounded_worker.h"

#include <algorithm>
#include <utility>

#include "platform/threads/thread_name.h"

namespace platform {

struct BoundedWorker::Task {
  Job job;
  Job late;
  bool started = false;
  bool finished = false;
  // The caller stopped waiting for it.
  bool abandoned = false;
};

BoundedWorker::BoundedWorker(const char* name)
    : thread_([this, name] {
        platform::nameThisThread(name);
        loop();
      }) {}

BoundedWorker::~BoundedWorker() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    workToDo_.notify_one();
    if (idleWake_) idleWake_();
  }
  thread_.join();
}

void BoundedWorker::enqueue(const std::shared_ptr<Task>& task) {
  queue_.push_back(task);
  workToDo_.notify_one();
  if (idleWake_ && inIdleWait_) idleWake_();
}

bool BoundedWorker::run(Job job, Clock::time_point deadline, Job late) {
  auto task = std::make_shared<Task>();
  task->job = std::move(job);
  task->late = std::move(late);
  std::unique_lock<std::mutex> lock(mutex_);
  enqueue(task);
  if (taskDone_.wait_until(lock, deadline, [&] { return task->finished; })) return true;
  task->abandoned = true;
  if (!task->started) queue_.erase(std::find(queue_.begin(), queue_.end(), task));
  return false;
}

void BoundedWorker::post(Job job) {
  auto task = std::make_shared<Task>();
  task->job = std::move(job);
  const std::lock_guard<std::mutex> lock(mutex_);
  enqueue(task);
}

void BoundedWorker::setIdle(Job wait, Job wake) {
  const std::lock_guard<std::mutex> lock(mutex_);
  idleWait_ = std::move(wait);
  idleWake_ = std::move(wake);
}

bool BoundedWorker::stuck() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return current_ != nullptr && current_->abandoned;
}

void BoundedWorker::loop() {
  // Calls come in runs (a walk makes one after another as fast as answers
  // come): after a job the worker waits a moment on the condition variable,
  // which the next call wakes sooner and more cheaply than the idle wait,
  // before it goes back to the idle wait.
  constexpr std::chrono::milliseconds linger{2};
  bool justWorked = false;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    if (queue_.empty()) {
      if (justWorked && idleWait_) {
        justWorked = false;
        workToDo_.wait_for(lock, linger, [this] { return !queue_.empty() || stopping_; });
        continue;
      }
      if (idleWait_) {
        Job wait = idleWait_;
        inIdleWait_ = true;
        lock.unlock();
        wait();
        lock.lock();
        inIdleWait_ = false;
      } else {
        workToDo_.wait(lock, [this] { return !queue_.empty() || idleWait_ || stopping_; });
      }
      continue;
    }
    current_ = queue_.front();
    queue_.pop_front();
    current_->started = true;
    lock.unlock();
    current_->job();
    lock.lock();
    current_->finished = true;
    if (current_->abandoned && current_->late) {
      Job late = std::move(current_->late);
      lock.unlock();
      late();
      lock.lock();
    }
    current_.reset();
    justWorked = true;
    taskDone_.notify_all();
  }
}

}  // namespace platform
