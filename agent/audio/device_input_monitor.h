// Whether the default input device runs in any process, polled once a second;
// each change is written as a `mic` event without process or application. For
// systems whose audio system lists no per-process objects. Main thread only.
#pragma once

#include <memory>
#include <optional>

namespace tondrel {

class DeviceInputMonitor {
 public:
  DeviceInputMonitor() = default;
  DeviceInputMonitor(const DeviceInputMonitor&) = delete;
  DeviceInputMonitor& operator=(const DeviceInputMonitor&) = delete;

  // Polls once at once, writing nothing whatever it finds, then every
  // pollInterval while the caller holds the monitor (startPolling).
  static void start(const std::shared_ptr<DeviceInputMonitor>& monitor);

 private:
  void poll();

  // The previous poll's answer; absent before the first. Which device gave it
  // is not kept: switching devices is no event by itself.
  std::optional<bool> running_;
};

}  // namespace tondrel
