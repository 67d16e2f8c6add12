// The run loop and queues on Apple: libdispatch for the queues and the input
// source, the main CFRunLoop for the timer and, through the main dispatch
// queue it services, the posted tasks.
#include "agent/loop.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <memory>
#include <time.h>

namespace {

void runTask(void* context) {
  std::unique_ptr<loop::Task> task(static_cast<loop::Task*>(context));
  (*task)();
}

void fireTimer(CFRunLoopTimerRef, void* info) { (*static_cast<loop::Task*>(info))(); }

struct Reader {
  dispatch_source_t source = nullptr;
  loop::ReadabilityHandler handler = nullptr;
  int descriptor = -1;
};

void onReadable(void* context) {
  auto* reader = static_cast<Reader*>(context);
  reader->handler(reader->descriptor);
}

// The source is released only once cancelled, never from inside its own
// handler, which is where the agent removes it at end of input.
void onCancelled(void* context) {
  auto* reader = static_cast<Reader*>(context);
  dispatch_release(reader->source);
  delete reader;
}

// The installed readers by descriptor; the agent installs one.
constexpr int maxReaders = 4;
Reader* readers[maxReaders] = {};

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
  CFRunLoopTimerContext context = {0, new Task(std::move(action)), nullptr, nullptr, nullptr};
  CFRunLoopTimerRef timer =
      CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + intervalSeconds,
                           intervalSeconds, 0, 0, fireTimer, &context);
  // A leeway of a tenth of the interval lets the system coalesce our wake-ups
  // with others', which is most of what an idle poller costs.
  CFRunLoopTimerSetTolerance(timer, intervalSeconds / 10);
  CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopDefaultMode);
  CFRelease(timer);
}

void setReadabilityHandler(int descriptor, ReadabilityHandler handler) {
  Reader** free = nullptr;
  for (Reader*& reader : readers) {
    if (reader != nullptr && reader->descriptor == descriptor) {
      // Stops further calls; one already running finishes first.
      dispatch_source_cancel(reader->source);
      reader = nullptr;
    }
    if (free == nullptr && reader == nullptr) free = &reader;
  }
  if (handler == nullptr || free == nullptr) return;
  auto* reader = new Reader;
  reader->descriptor = descriptor;
  reader->handler = handler;
  reader->source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ,
                                          static_cast<uintptr_t>(descriptor), 0,
                                          dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0));
  dispatch_set_context(reader->source, reader);
  dispatch_source_set_event_handler_f(reader->source, onReadable);
  dispatch_source_set_cancel_handler_f(reader->source, onCancelled);
  *free = reader;
  dispatch_resume(reader->source);
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
