#include "agent/audio/device_input_monitor.h"

#include "agent/audio/mic_event.h"
#include "agent/audio/polling.h"
#include "agent/emit.h"
#include "platform/audio.h"

namespace tondrel {

void DeviceInputMonitor::start(const std::shared_ptr<DeviceInputMonitor>& monitor) {
  startPolling(monitor, &DeviceInputMonitor::poll);
}

void DeviceInputMonitor::poll() {
  // No device, and every failed read, count as not running.
  const bool now = platform::audio::defaultInputRunning().value_or(false);
  if (running_ && *running_ != now) emit(micEvent(now, std::nullopt, std::nullopt));
  running_ = now;
}

}  // namespace tondrel
