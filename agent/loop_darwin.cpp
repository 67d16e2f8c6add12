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

// At most a few descriptors are ever watched; the agent watches one.
constexpr int maxReaders = 4;
Reader readers[maxReaders];

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
  Reader* slot = nullptr;
  for (Reader& reader : readers) {
    if (reader.source != nullptr && reader.descriptor == descriptor) {
      // Cancelling stops further calls; one already running finishes.
      dispatch_source_cancel(reader.source);
      dispatch_release(reader.source);
      reader.source = nullptr;
    }
    if (slot == nullptr && reader.source == nullptr) slot = &reader;
  }
  if (handler == nullptr || slot == nullptr) return;
  slot->descriptor = descriptor;
  slot->handler = handler;
  slot->source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ,
                                        static_cast<uintptr_t>(descriptor), 0,
                                        dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0));
  dispatch_set_context(slot->source, slot);
  dispatch_source_set_event_handler_f(slot->source, onReadable);
  dispatch_resume(slot->source);
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
