// The audio answers on a Linux desktop, from the PipeWire graph the
// connection keeps: capture streams fed by an audio source, and the default
// source. While PipeWire cannot be reached nothing can be read.
#include "platform/audio.h"

#include "platform/linux/pipewire_connection.h"

namespace platform::audio {

// PipeWire lists its capture streams one by one on every desktop it runs.
Monitor supportedMonitor() { return Monitor::perProcess; }

// PipeWire tells of every change, and the connection asks for a poll then.
Updates updates() { return Updates::announced; }

void captureStreams(std::vector<CaptureStream>& streams, const PidWanted& /*pidWanted*/) {
  // Every pid is at hand in the cached graph, so all are filled in.
  pwaudio::takeCaptureStreams(streams);
}

std::optional<bool> defaultInputRunning() { return pwaudio::defaultInputRunning(); }

}  // namespace platform::audio
