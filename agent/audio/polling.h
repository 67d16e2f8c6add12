// How a microphone monitor keeps polling.
#pragma once

#include <memory>

#include "agent/globals.h"
#include "platform/loop.h"

namespace tondrel {

// Calls `poll` on the monitor once at once, then schedules the repeating timer
// that calls it every pollInterval. The timer holds the monitor weakly and does
// nothing once it is gone, so the caller's reference is the one that keeps it
// polling.
template <typename Monitor>
void startPolling(const std::shared_ptr<Monitor>& monitor, void (Monitor::*poll)()) {
  ((*monitor).*poll)();
  loop::scheduleRepeatingTimer(pollInterval, [weak = std::weak_ptr<Monitor>(monitor), poll] {
    if (const auto self = weak.lock()) ((*self).*poll)();
  });
}

}  // namespace tondrel
