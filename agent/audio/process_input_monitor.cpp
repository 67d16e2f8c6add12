#include "agent/audio/process_input_monitor.h"

#include "agent/audio/mic_event.h"
#include "agent/audio/owning_app.h"
#include "agent/audio/polling.h"
#include "agent/audio/properties.h"
#include "agent/emit.h"
#include "agent/globals.h"

#include <algorithm>
#include <optional>

namespace tondrel {

void ProcessInputMonitor::start(const std::shared_ptr<ProcessInputMonitor>& monitor) {
  startPolling(monitor, &ProcessInputMonitor::poll);
}

void ProcessInputMonitor::poll() {
  // A failed read is an empty list: every remembered object then counts as
  // gone, and comes back as new once the list can be read again.
  readObjectIds(systemObject, property::processObjectList, listed_);

  // The vanished objects are fixed before anything below changes the map.
  // Both it and the sorted list are in id order, so one pass finds them.
  sortedListed_.assign(listed_.begin(), listed_.end());
  std::sort(sortedListed_.begin(), sortedListed_.end());
  vanished_.clear();
  auto next = sortedListed_.cbegin();
  for (const auto& [object, entry] : objects_) {
    next = std::lower_bound(next, sortedListed_.cend(), object);
    if (next == sortedListed_.cend() || *next != object) vanished_.push_back(object);
  }
  for (const AudioObjectID object : vanished_) {
    const auto gone = objects_.find(object);
    // Reported before it is forgotten, with the pid it had.
    if (gone->second.running) report(false, gone->second.pid);
    objects_.erase(gone);
  }

  for (const AudioObjectID object : listed_) {
    const auto [at, unseen] = objects_.try_emplace(object);
    Entry& entry = at->second;
    if (!entry.pid) {
      // Tried at every poll until it succeeds, then kept.
      if (const std::optional<std::uint32_t> pid = readUInt32(object, property::processPid)) {
        entry.pid = static_cast<pid_t>(*pid);
      }
    }
    const bool now = readUInt32(object, property::processIsRunningInput) == 1u;
    const bool changed = entry.running != now;
    entry.running = now;
    // A new object counts as news only when it captures.
    if (!initial_ && changed) report(now, entry.pid);
  }

  // Also after an empty first list: whatever runs at the next poll is news.
  initial_ = false;
}

void ProcessInputMonitor::report(bool running, std::optional<pid_t> pid) {
  std::optional<OwningApp> app;
  // Asked afresh each time: the owner can change while the process lives.
  if (pid) app = owningApp(*pid);
  emit(micEvent(running, pid, app));
}

}  // namespace tondrel
