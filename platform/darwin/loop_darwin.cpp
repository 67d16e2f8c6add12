// The run loop and queues on Apple: libdispatch for the queues, the main
// CFRunLoop for the timer and, through the main dispatch queue it services,
// the posted tasks, and a thread of its own for reading standard input.
#include "platform/loop.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>
#include <time.h>
#include <vector>

namespace {

// Neither the main dispatch queue nor run-loop callouts drain an autorelease
// pool, and the frameworks autorelease inside calls the agent makes every
// second for as long as it runs: each callout gets a pool of its own.
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);

class AutoreleasePool {
 public:
  AutoreleasePool() : pool_(objc_autoreleasePoolPush()) {}
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;
  ~AutoreleasePool() { objc_autoreleasePoolPop(pool_); }

 private:
  void* pool_;
};

void runTask(void* context) {
  AutoreleasePool pool;
  std::unique_ptr<loop::Task> task(static_cast<loop::Task*>(context));
  (*task)();
}

void fireTimer(CFRunLoopTimerRef, void* info) {
  AutoreleasePool pool;
  (*static_cast<loop::Task*>(info))();
}

// The repeating timer's action once it is scheduled, for wakeMonitor(); and
// whether a run it asked for is still waiting on the main queue.
std::atomic<loop::Task*> timerAction{nullptr};
std::atomic<bool> wakePending{false};

void runWake(void*) {
  AutoreleasePool pool;
  // Cleared first: a wake asked for while this poll runs gets a poll of its
  // own, so no change goes unseen.
  wakePending.store(false);
  if (loop::Task* action = timerAction.load()) (*action)();
}

// Standard input is read on a thread of its own that waits with select()
// rather than through a dispatch read source: a read source is a kqueue read
// filter, which never reports the end of a regular file or of a named FIFO, so
// `tondrel < commands` would never exit. select() reports every descriptor
// kind (files, FIFOs, pipes, sockets, terminals) readable at its end, and the
// handler's read() then sees it.
struct Reader {
  loop::ReadabilityHandler handler = nullptr;
  int descriptor = -1;
  int wakePipe[2] = {-1, -1};
  std::atomic<bool> installed{true};
};

void readLoop(Reader* reader) {
  const int highest = std::max(reader->descriptor, reader->wakePipe[0]);
  while (reader->installed.load()) {
    if (highest >= FD_SETSIZE) {
      // Beyond what select() takes: the handler's blocking read waits instead.
      reader->handler(reader->descriptor);
      continue;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(reader->descriptor, &readable);
    FD_SET(reader->wakePipe[0], &readable);
    const int ready = select(highest + 1, &readable, nullptr, nullptr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      // The descriptor cannot be waited on (closed under us): the handler's
      // read fails the same way and ends the input.
      if (reader->installed.load()) reader->handler(reader->descriptor);
      continue;
    }
    if (!reader->installed.load()) break;
    if (FD_ISSET(reader->descriptor, &readable)) reader->handler(reader->descriptor);
  }
}

std::mutex readersLock;
// Readers are kept once made: a thread may still be finishing a call after
// its handler was removed.
std::vector<Reader*>& readers() {
  static auto* instance = new std::vector<Reader*>;
  return *instance;
}

}  // namespace

namespace loop {

void postMain(Task task) {
  dispatch_async_f(dispatch_get_main_queue(), new Task(std::move(task)), runTask);
}

SerialQueue* createSerialQueue(const char* label) {
  // No attributes: serial, active at once, default quality of service.
  return reinterpret_cast<SerialQueue*>(dispatch_queue_create(label, DISPATCH_QUEUE_SERIAL));
}

void submit(SerialQueue* queue, Task task) {
  dispatch_async_f(reinterpret_cast<dispatch_queue_t>(queue), new Task(std::move(task)), runTask);
}

void scheduleRepeatingTimer(double intervalSeconds, Task action) {
  // The run loop keeps the timer; the action lives as long as the process.
  auto* kept = new Task(std::move(action));
  timerAction.store(kept);
  CFRunLoopTimerContext context = {0, kept, nullptr, nullptr, nullptr};
  CFRunLoopTimerRef timer =
      CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + intervalSeconds,
                           intervalSeconds, 0, 0, fireTimer, &context);
  // A leeway of a tenth of the interval lets the system coalesce our wake-ups
  // with others', which is most of what an idle poller costs.
  CFRunLoopTimerSetTolerance(timer, intervalSeconds / 10);
  CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopDefaultMode);
  CFRelease(timer);
}

void wakeMonitor() {
  if (timerAction.load() == nullptr || wakePending.exchange(true)) return;
  dispatch_async_f(dispatch_get_main_queue(), nullptr, runWake);
}

void setReadabilityHandler(int descriptor, ReadabilityHandler handler) {
  std::lock_guard<std::mutex> guard(readersLock);
  for (Reader* reader : readers()) {
    if (reader->descriptor == descriptor && reader->installed.exchange(false)) {
      // Stops further calls; one already running finishes first.
      const char byte = 0;
      if (write(reader->wakePipe[1], &byte, 1) < 0) {
        // The reader sees the flag after its current call all the same.
      }
    }
  }
  if (handler == nullptr) return;
  auto* reader = new Reader;
  reader->descriptor = descriptor;
  reader->handler = handler;
  if (pipe(reader->wakePipe) != 0) {
    delete reader;
    return;
  }
  readers().push_back(reader);
  std::thread(readLoop, reader).detach();
}

void runMain() { CFRunLoopRun(); }

void sleepFor(double seconds) {
  if (!(seconds > 0)) return;
  timespec wanted;
  wanted.tv_sec = static_cast<time_t>(seconds);
  wanted.tv_nsec = static_cast<long>((seconds - static_cast<double>(wanted.tv_sec)) * 1e9);
  while (nanosleep(&wanted, &wanted) != 0) {
  }
}

}  // namespace loop
