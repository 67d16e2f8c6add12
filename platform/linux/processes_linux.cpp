// The process answers on Linux, from /proc. Linux has no notion of a process
// responsible for another: the nearest application among the ancestors is
// the owner.
#include "platform/processes.h"

#include "platform/linux/procfs.h"

namespace platform::processes {

void prepare() {}

std::optional<pid_t> parentPid(pid_t pid) { return procfs::parentPid(pid); }

std::optional<pid_t> responsiblePid(pid_t /*pid*/) { return std::nullopt; }

}  // namespace platform::processes
