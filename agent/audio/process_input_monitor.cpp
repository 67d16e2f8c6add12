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

  if (listed_ == previous_) {
    // The same objects as last time, so none has vanished: the remembered
    // entries stand in the list's order. Each object still gets exactly the
    // reads and the comparison of the general path below.
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      const AudioObjectID object = listed_[i];
      if (!pidKnown_[i]) {
        if (!pids_.contains(object)) {
          if (const std::optional<std::uint32_t> pid = readUInt32(object, property::processPid)) {
            pids_.emplace(object, static_cast<pid_t>(*pid));
          }
        }
        pidKnown_[i] = pids_.contains(object);
      }
      const bool now = readUInt32(object, property::processIsRunningInput) == 1u;
      bool& remembered = slots_[i]->second;
      const bool changed = remembered != now;
      remembered = now;
      if (!initial_ && changed) report(object, now);
    }
    initial_ = false;
    return;
  }

  // The vanished objects are fixed before anything below changes the maps.
  sortedListed_.assign(listed_.begin(), listed_.end());
  std::sort(sortedListed_.begin(), sortedListed_.end());
  vanished_.clear();
  for (const auto& [object, wasRunning] : running_) {
    if (!std::binary_search(sortedListed_.begin(), sortedListed_.end(), object)) {
      vanished_.push_back(object);
    }
  }
  for (const AudioObjectID object : vanished_) {
    // Reported before it is forgotten, while its pid is still cached.
    if (running_.at(object)) report(object, false);
    running_.erase(object);
    pids_.erase(object);
  }

  for (const AudioObjectID object : listed_) {
    if (!pids_.contains(object)) {
      // Tried at every poll until it succeeds, then kept.
      if (const std::optional<std::uint32_t> pid = readUInt32(object, property::processPid)) {
        pids_.emplace(object, static_cast<pid_t>(*pid));
      }
    }
    const bool now = readUInt32(object, property::processIsRunningInput) == 1u;
    const auto [entry, unseen] = running_.try_emplace(object, now);
    const bool changed = unseen ? now : entry->second != now;
    entry->second = now;
    if (!initial_ && changed) report(object, now);
  }

  // Also after an empty first list: whatever runs at the next poll is news.
  initial_ = false;
  rememberList();
}

void ProcessInputMonitor::rememberList() {
  previous_.assign(listed_.begin(), listed_.end());
  slots_.clear();
  pidKnown_.clear();
  for (const AudioObjectID object : listed_) {
    slots_.push_back(running_.find(object));
    pidKnown_.push_back(pids_.contains(object) ? 1 : 0);
  }
}

void ProcessInputMonitor::report(AudioObjectID object, bool running) {
  std::optional<pid_t> pid;
  std::optional<OwningApp> app;
  if (const auto cached = pids_.find(object); cached != pids_.end()) {
    pid = cached->second;
    // Asked afresh each time: the owner can change while the process lives.
    app = owningApp(cached->second);
  }
  emit(micEvent(running, pid, app));
}

}  // namespace tondrel
