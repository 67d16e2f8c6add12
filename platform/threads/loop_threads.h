// Control of the threaded stand-in for the platform's run loop and queues.
//
// Two clocks: the real one, optionally sped up (every timer interval and every
// wait is divided by the speed), for the scenario runner; and a manual one for
// tests, on which nothing happens until the test moves time on.
#pragma once

namespace loop::threads {

// Real time, sped up by `speed` (> 0). runMain() then drives everything.
void useRealClock(double speed = 1.0);
// Time stands still: main tasks run only in runPending() and advance(), the
// timer fires only in advance(), and waits return at once (they are counted
// and traced all the same). Forgets posted tasks, the timer and elapsed time.
void useManualClock();

// Manual clock: runs the main tasks posted so far, and those they post, on the
// calling thread, in posting order.
void runPending();
// Manual clock: moves time on by `seconds`, running pending tasks before each
// timer tick that falls due, the tick itself, and pending tasks at the end.
void advance(double seconds);

// Manual clock: runs the repeating timer's action once, now, on the calling
// thread, with nothing else (no posted tasks, no time passing): one tick, as
// a benchmark measures it.
void fireTimer();

// Seconds of (virtual or sped-up) time since the clock was chosen.
double now();
// Total of all waits requested through sleepFor, in unscaled seconds.
double totalSlept();
// Number of waits requested through sleepFor.
long waitCount();

// Whether the repeating timer, or the action of scheduleOnWake, is set; and
// the timer's interval, 0 for an action that runs only when woken.
bool timerScheduled();
double timerInterval();

// Called on the waiting thread for every wait requested through sleepFor,
// before it waits; nullptr stops. A trace of the waits hangs here.
using WaitObserver = void (*)(double seconds);
void observeWaits(WaitObserver observer);

// Blocks until every serial queue has run everything submitted to it.
void waitForQueues();

}  // namespace loop::threads
