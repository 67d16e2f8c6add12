// How a microphone monitor keeps polling.
#pragma once

#include <memory>

#include "agent/globals.h"
#include "platform/audio.h"
#include "platform/loop.h"

namespace tondrel {

// Calls `poll` on the monitor once at once, then again every pollInterval or,
// where the audio backend announces its changes, whenever it asks. The loop
// holds the monitor weakly and does nothing once it is gone, so the caller's
// reference is the one that keeps it polling.
template <typename Monitor>
void startPolling(const std::shared_ptr<Monitor>& monitor, void (Monitor::*poll)()) {
  loop::Task action = [weak = std::weak_ptr<Monitor>(monitor), poll] {
    if (const auto self = weak.lock()) ((*self).*poll)();
  };
  if (platform::audio::updates() == platform::audio::Updates::announced) {
    loop::scheduleOnWake(std::move(action));
  } else {
    loop::scheduleRepeatingTimer(pollInterval, std::move(action));
  }
  // After the scheduling: a backend that the first poll sets going may ask
  // for the next one at once, and that must not be lost.
  ((*monitor).*poll)();
}

}  // namespace tondrel
