#include "agent/audio/parent_pid.h"

#include "platform/processes.h"

namespace tondrel {

std::optional<pid_t> parentPid(pid_t pid) {
  const std::optional<pid_t> parent = platform::processes::parentPid(pid);
  if (!parent || *parent < 2) return std::nullopt;
  return parent;
}

}  // namespace tondrel
