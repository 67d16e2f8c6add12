// The agent's run loop and queues, behind one small interface.
//
// On Apple these are libdispatch and the main CFRunLoop (loop_darwin.cpp);
// elsewhere plain threads stand in, with a manual clock for tests
// (platform/threads/).
// What the agent relies on:
// - tasks posted to the main queue run on the main thread, one at a time, in
//   posting order, between timer ticks, and only once runMain() runs;
// - the one repeating timer fires on the main thread every interval;
// - a serial queue runs its tasks one at a time, in submission order;
// - a readability handler is called on a background thread, one call at a
//   time, whenever its descriptor has data or has reached its end;
// - the repeating timer's action is the microphone monitor's poll, which a
//   backend may ask for sooner with wakeMonitor(), or (scheduleOnWake) only
//   then.
#pragma once

#include <functional>

namespace loop {

using Task = std::function<void()>;

void postMain(Task task);

class SerialQueue;
// Serial, active at once, default quality of service, no target queue. Lives
// until the process ends.
SerialQueue* createSerialQueue(const char* label);
void submit(SerialQueue* queue, Task task);

// Schedules the repeating timer on the main run loop; never invalidated.
void scheduleRepeatingTimer(double intervalSeconds, Task action);

// Makes `action` the monitor's poll without any ticks of its own: it runs
// only when wakeMonitor() asks for it. For an audio backend that announces
// every change, so that an idle agent does not wake at all. Either this or
// scheduleRepeatingTimer is called, once.
void scheduleOnWake(Task action);

using ReadabilityHandler = void (*)(int descriptor);
// Installs the handler for the descriptor; nullptr removes it, after which it is
// not called again.
void setReadabilityHandler(int descriptor, ReadabilityHandler handler);

// Any thread: makes the repeating timer's action (the running microphone
// monitor's poll) run once soon on the main thread, without moving the
// timer's own ticks. Calls made before that run starts coalesce into it, so a
// backend may call this for every change it sees, from its own thread. Does
// nothing before the timer (or the action of scheduleOnWake) is scheduled. For backends told of
// changes by their system (an audio graph that announces new streams); a backend that is only
// polled never calls it.
void wakeMonitor();

// Runs the main run loop; returns only if the loop has nothing left to run.
void runMain();

// Blocks the calling thread for the given time.
void sleepFor(double seconds);

}  // namespace loop
