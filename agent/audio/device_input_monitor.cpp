#include "agent/audio/device_input_monitor.h"

#include "agent/audio/mic_event.h"
#include "agent/audio/polling.h"
#include "agent/audio/properties.h"
#include "agent/emit.h"
#include "agent/globals.h"

#include <cstdint>

namespace tondrel {

void DeviceInputMonitor::start(const std::shared_ptr<DeviceInputMonitor>& monitor) {
  startPolling(monitor, &DeviceInputMonitor::poll);
}

void DeviceInputMonitor::poll() {
  // No device, and every failed read, count as not running.
  bool now = false;
  const std::optional<std::uint32_t> device =
      readUInt32(systemObject, property::defaultInputDevice);
  if (device && *device != 0) {
    now = readUInt32(*device, property::deviceIsRunningSomewhere) == 1u;
  }
  if (running_ && *running_ != now) emit(micEvent(now, std::nullopt, std::nullopt));
  running_ = now;
}

}  // namespace tondrel
