#include "agent/audio/process_input_monitor.h"

#include "agent/audio/mic_event.h"
#include "agent/audio/owning_app.h"
#include "agent/audio/polling.h"
#include "agent/audio/transitions.h"
#include "agent/emit.h"

#include <algorithm>
#include <optional>

namespace tondrel {

void ProcessInputMonitor::start(const std::shared_ptr<ProcessInputMonitor>& monitor) {
  startPolling(monitor, &ProcessInputMonitor::poll);
}

void ProcessInputMonitor::poll() {
  // A failed read is an empty list: every remembered stream then counts as
  // gone, and comes back as new once the list can be read again. A pid is
  // asked for only where none is known yet: it is tried at every poll until
  // it is found, then kept.
  platform::audio::captureStreams(listed_, [this](platform::audio::StreamId id) {
    const auto known = objects_.find(id);
    return known == objects_.end() || !known->second.pid;
  });

  // The vanished streams are fixed before anything below changes the map.
  // Both it and the sorted list are in id order, so one pass finds them.
  sortedListed_.clear();
  for (const platform::audio::CaptureStream& stream : listed_) sortedListed_.push_back(stream.id);
  std::sort(sortedListed_.begin(), sortedListed_.end());
  vanished_.clear();
  auto next = sortedListed_.cbegin();
  for (const auto& [object, entry] : objects_) {
    next = std::lower_bound(next, sortedListed_.cend(), object);
    if (next == sortedListed_.cend() || *next != object) vanished_.push_back(object);
  }
  for (const platform::audio::StreamId object : vanished_) {
    const auto gone = objects_.find(object);
    // Reported before it is forgotten, with the pid it had.
    if (gone->second.running) report(false, gone->second.pid);
    objects_.erase(gone);
  }

  for (const platform::audio::CaptureStream& stream : listed_) {
    const auto [at, unseen] = objects_.try_emplace(stream.id);
    Entry& entry = at->second;
    if (!entry.pid) entry.pid = stream.pid;
    // A state that cannot be read counts as not capturing.
    const bool now = stream.capturing.value_or(false);
    const bool was = entry.running;
    entry.running = now;
    // A new object counts as news only when it captures, or captured since
    // the previous poll.
    if (initial_) continue;
    std::optional<OwningApp> app;
    bool appRead = false;
    forEachTransition(was, now, stream.startsBetween, [&](bool running) {
      // Read once for all of one stream's events: they are one moment's news.
      if (!appRead && entry.pid) app = owningApp(*entry.pid);
      appRead = true;
      emit(micEvent(running, entry.pid, app));
    });
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
