// Which client processes of the audio system capture input, polled once a
// second or, where the audio system announces its changes, at each change;
// each start and stop is written as a `mic` event with the process and the
// application that owns it. Needs an audio system that lists the
// capture streams of its client processes (platform::audio::Monitor::
// perProcess). Main thread only.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/audio.h"

#include <sys/types.h>

namespace tondrel {

class ProcessInputMonitor {
 public:
  ProcessInputMonitor() = default;
  ProcessInputMonitor(const ProcessInputMonitor&) = delete;
  ProcessInputMonitor& operator=(const ProcessInputMonitor&) = delete;

  // Polls once at once, writing nothing whatever it finds, then every
  // pollInterval or when the backend asks, while the caller holds the monitor
  // (startPolling).
  static void start(const std::shared_ptr<ProcessInputMonitor>& monitor);

 private:
  void poll();
  void report(bool running, std::optional<pid_t> pid);

  // What is known of each stream listed by the latest poll: its input state,
  // and its pid from the first successful read on (never read again while
  // the stream stays listed).
  struct Entry {
    bool running = false;
    std::optional<pid_t> pid;
  };
  std::map<platform::audio::StreamId, Entry> objects_;
  // Until the first poll has finished.
  bool initial_ = true;

  // Kept between polls only for their storage, so a poll in which nothing
  // changes allocates nothing.
  std::vector<platform::audio::CaptureStream> listed_;
  std::vector<platform::audio::StreamId> sortedListed_;
  std::vector<platform::audio::StreamId> vanished_;
};

}  // namespace tondrel
