#include "agent/audio/parent_pid.h"

#include <sys/sysctl.h>

#include <cstddef>

namespace tondrel {

// The record of the 64-bit platform: read by field, checked here so a header of
// another shape cannot slip through.
static_assert(sizeof(kinfo_proc) == 648);
static_assert(offsetof(kinfo_proc, kp_eproc.e_ppid) == 560);
static_assert(sizeof(kinfo_proc{}.kp_eproc.e_ppid) == 4);

std::optional<pid_t> parentPid(pid_t pid) {
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  kinfo_proc record{};
  std::size_t length = sizeof record;
  if (sysctl(name, 4, &record, &length, nullptr, 0) != 0 || length < 1) return std::nullopt;
  const pid_t parent = record.kp_eproc.e_ppid;
  if (parent < 2) return std::nullopt;
  return parent;
}

}  // namespace tondrel
