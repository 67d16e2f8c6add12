// The parent of a process, from the process table.
#pragma once

#include <optional>

#include <sys/types.h>

namespace tondrel {

// Absent when the table has no record for the pid (the process has exited),
// when the query fails, or when the parent is 0 or 1: the kernel and launchd
// own no application.
std::optional<pid_t> parentPid(pid_t pid);

}  // namespace tondrel
