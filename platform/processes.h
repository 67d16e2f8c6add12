// The process questions that attribution asks: a process's parent, and the
// process the system holds responsible for it. Thread-safe; each call asks
// the system afresh.
#pragma once

#include <sys/types.h>

#include <optional>

namespace platform::processes {

// Looks up, once, what the system offers for these questions (a function that
// exists only on some versions of a system, say). Called by start-up on the
// main thread before any question is asked; calling it again looks again.
void prepare();

// The parent pid as the system records it, whatever it is (0 and 1 included:
// the caller decides what they mean). Absent when the system has no record
// for the pid (the process has exited) or the query fails.
std::optional<pid_t> parentPid(pid_t pid);

// The pid of the process the system holds responsible for `pid` (the
// application that launched a helper on its behalf), as the system answers,
// any value included. Absent on systems that have no such notion, and where
// the system's function is missing.
std::optional<pid_t> responsiblePid(pid_t pid);

}  // namespace platform::processes
