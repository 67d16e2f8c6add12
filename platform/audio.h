// The audio questions the microphone monitors ask of a platform.
//
// Every answer is the platform's state now, read afresh on each call: the
// monitors keep what they need between polls. A backend told of changes as
// they happen also says what happened since the previous call that the state
// now no longer shows (a capture that started and stopped in between). Each
// field that a platform read can fail on is optional, absent when that read
// failed, so the monitors' rules for failures stay theirs and no status code
// of the platform reaches them. Called on the main thread only, once a second
// or, for a backend that announces its changes, whenever it asks for a poll
// (loop::wakeMonitor()); a call must not wait on another process for longer
// than a read of a local service takes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform::audio {

// Which microphone monitor this system can run.
enum class Monitor {
  // The system lists the processes that capture input, one stream each.
  perProcess,
  // The system says only whether the default input device runs.
  defaultDevice,
};
Monitor supportedMonitor();

// How a monitor learns that the answers below changed.
enum class Updates {
  // Only by asking again: the monitor polls every pollInterval.
  polled,
  // The backend is told of every change by its system and asks for a poll
  // (loop::wakeMonitor()) each time one may change an answer, from the moment
  // the first call was made; the monitor then polls only when asked, and an
  // idle agent does not wake at all.
  announced,
};
Updates updates();

// Names one capture stream for as long as the system lists it. A backend must
// not give the id of a stream that went away to a new one while the monitor
// could still remember the old one (between two consecutive polls); 0 is a
// valid id. Which values are used is the backend's business.
using StreamId = std::uint64_t;

// One process's capture of audio input, as listed now.
struct CaptureStream {
  StreamId id = 0;
  // The process that captures; absent when it could not be read, or was not
  // read because the caller already knows it (see captureStreams).
  std::optional<pid_t> pid;
  // Whether the stream captures from an input device now; absent when it
  // could not be read.
  std::optional<bool> capturing;
  // How many times the stream started capturing since the previous call of
  // captureStreams, as the backend saw it happen: for a stream that started
  // and stopped in between, which `capturing` no longer shows. A stream that
  // went away in between after such a start is listed once more, with
  // `capturing` false. Always 0 from a backend that only samples the state.
  std::uint32_t startsBetween = 0;
};

// Tells a backend whether the caller still needs the pid of a stream: false
// for a stream whose pid it learnt at an earlier poll. A backend whose pid
// read costs a call to another process skips that call; one that has the pid
// at hand anyway may fill it in regardless.
using PidWanted = std::function<bool(StreamId id)>;

// Replaces the contents of `streams` with the capture streams listed now, in
// the system's order. A list that cannot be read is an empty one. The vector
// is the caller's so that its storage is reused from poll to poll: a poll in
// which nothing changed should allocate nothing.
void captureStreams(std::vector<CaptureStream>& streams, const PidWanted& pidWanted);

// Whether the default input device is running in any process now. False when
// there is no default input device; absent when a read failed.
std::optional<bool> defaultInputRunning();

}  // namespace platform::audio
