// Which client processes of the audio system capture input, polled once a
// second; each start and stop is written as a `mic` event with the process and
// the application that owns it. Needs an audio system that lists one object
// per client process (macOS 14 and later). Main thread only.
#pragma once

#include <CoreAudio/AudioHardware.h>

#include <map>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace tondrel {

class ProcessInputMonitor {
 public:
  ProcessInputMonitor() = default;
  ProcessInputMonitor(const ProcessInputMonitor&) = delete;
  ProcessInputMonitor& operator=(const ProcessInputMonitor&) = delete;

  // Polls once at once, writing nothing whatever it finds, then every
  // pollInterval while the caller holds the monitor (startPolling).
  static void start(const std::shared_ptr<ProcessInputMonitor>& monitor);

 private:
  void poll();
  void report(AudioObjectID object, bool running);

  // The input state of every object listed by the latest poll.
  std::map<AudioObjectID, bool> running_;
  // The pid of a listed object, from its first successful read until it is no
  // longer listed; never read again meanwhile.
  std::map<AudioObjectID, pid_t> pids_;
  // Until the first poll has finished.
  bool initial_ = true;

  // Kept between polls only for their storage, so a poll in which nothing
  // changes allocates nothing.
  std::vector<AudioObjectID> listed_;
  std::vector<AudioObjectID> sortedListed_;
  std::vector<AudioObjectID> vanished_;

  // The previous poll's list and, position by position, each object's entry
  // in running_ and whether its pid was known. Nearly every poll lists the
  // same objects as the one before; it then finds them without a search.
  void rememberList();
  std::vector<AudioObjectID> previous_;
  std::vector<std::map<AudioObjectID, bool>::iterator> slots_;
  std::vector<char> pidKnown_;
};

}  // namespace tondrel
