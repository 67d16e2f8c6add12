// The process-table query, answered from /proc: a record carries only the
// parent pid, which is all the agent reads of it.
#include <sys/sysctl.h>

#include "platform/linux/procfs.h"

#include <cerrno>
#include <cstring>

extern "C" int sysctl(int* name, unsigned int namelen, void* oldp, size_t* oldlenp, void* newp,
                      size_t newlen) {
  if (name == nullptr || namelen != 4 || name[0] != CTL_KERN || name[1] != KERN_PROC ||
      name[2] != KERN_PROC_PID || newp != nullptr || newlen != 0 || oldlenp == nullptr) {
    errno = ENOTSUP;
    return -1;
  }
  if (oldp == nullptr) {
    *oldlenp = sizeof(kinfo_proc);
    return 0;
  }
  if (*oldlenp < sizeof(kinfo_proc)) {
    errno = ENOMEM;
    return -1;
  }
  const std::optional<pid_t> parent = procfs::parentPid(name[3]);
  if (!parent) {
    // As on the platform: success, with nothing written, when no process has
    // the pid.
    *oldlenp = 0;
    return 0;
  }
  kinfo_proc record;
  std::memset(&record, 0, sizeof record);
  record.kp_eproc.e_ppid = *parent;
  std::memcpy(oldp, &record, sizeof record);
  *oldlenp = sizeof record;
  return 0;
}
