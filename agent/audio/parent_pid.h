// The parent of a process that may own an application.
#pragma once

#include <optional>

#include <sys/types.h>

namespace tondrel {

// Absent when the system has no record for the pid (the process has exited),
// when the query fails, or when the parent is 0 or 1: the kernel and the
// system's first process (launchd, init) own no application.
std::optional<pid_t> parentPid(pid_t pid);

}  // namespace tondrel
