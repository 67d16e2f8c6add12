// The process answers on the Mac: the parent from the kernel's process table
// (sysctl's record by pid), the responsible process from the system library's
// function, looked up at run time since older systems lack it.
#include "platform/processes.h"

#include <dlfcn.h>
#include <sys/sysctl.h>

#include <atomic>
#include <cstddef>

namespace platform::processes {

namespace {

using ResponsibleForPid = pid_t (*)(pid_t);

// Set by prepare() on the main thread before any question; read on others.
std::atomic<ResponsibleForPid> responsibleForPid{nullptr};

}  // namespace

// The record of the 64-bit platform: read by field, checked here so a header of
// another shape cannot slip through.
static_assert(sizeof(kinfo_proc) == 648);
static_assert(offsetof(kinfo_proc, kp_eproc.e_ppid) == 560);
static_assert(sizeof(kinfo_proc{}.kp_eproc.e_ppid) == 4);

void prepare() {
  // Looked up, not linked: older systems lack the function.
  responsibleForPid.store(reinterpret_cast<ResponsibleForPid>(
      dlsym(RTLD_DEFAULT, "responsibility_get_pid_responsible_for_pid")));
}

std::optional<pid_t> parentPid(pid_t pid) {
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  kinfo_proc record{};
  std::size_t length = sizeof record;
  // A pid without a process succeeds with nothing written.
  if (sysctl(name, 4, &record, &length, nullptr, 0) != 0 || length < 1) return std::nullopt;
  return record.kp_eproc.e_ppid;
}

std::optional<pid_t> responsiblePid(pid_t pid) {
  const ResponsibleForPid function = responsibleForPid.load();
  if (function == nullptr) return std::nullopt;
  return function(pid);
}

}  // namespace platform::processes
