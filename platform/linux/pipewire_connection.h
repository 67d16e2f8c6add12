// The agent's one connection to PipeWire: made on first use, kept open on a
// thread of its own, with the registry's nodes, clients, links and default
// source cached as they change. The audio answers read that cache.
//
// PipeWire tells its clients of every change, and the cache counts every
// capture that starts, so a capture shorter than the time between two reads
// is still seen. After each batch of changes that alters an answer, the
// thread asks for a poll of the microphone monitor (loop::wakeMonitor()); in
// between nothing of it runs, so an idle agent does not wake.
//
// libpipewire is loaded at run time, on that thread, once PipeWire's socket
// is there (the kernel tells when something appears in its folder; where the
// folder cannot be watched, it is looked for after 0.5 s, then 1, 2 and
// every 4 s): on a machine without it, or while no PipeWire answers, there
// is no graph and every read finds nothing. The thread notices a connection that breaks (PipeWire
// stopped or restarted) or that never completes (a peer that accepts and
// never answers: given up after 2 s), and connects again after 0.5 s, then
// 1, 2 and every 4 s while that keeps failing. A read never waits for any of
// this: it only takes the lock that guards the cache.
#pragma once

#include <optional>
#include <vector>

#include "platform/audio.h"

namespace pwaudio {

// The capture streams now, each with the starts counted since the previous
// call, and the streams gone since then after a start (see buildView). While
// no connection is ready only those gone are listed. The first call sets the
// connection going.
void takeCaptureStreams(std::vector<platform::audio::CaptureStream>& streams);

// Whether the default source runs; absent while no connection is ready.
std::optional<bool> defaultInputRunning();

}  // namespace pwaudio
