// Parents from a snapshot of the process table. Windows records the pid of
// the process that created each process and never updates it: once that
// parent has ended, its pid may be given to an unrelated process. A recorded
// parent that started after the child is such a reuse, and is not the
// child's parent. Windows has no notion of a responsible process.
#include "platform/processes.h"
#include "platform/windows/process_info.h"

#include <windows.h>
#include <tlhelp32.h>

namespace platform::processes {

void prepare() {}

std::optional<pid_t> parentPid(pid_t pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<pid_t> parent;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (static_cast<pid_t>(entry.th32ProcessID) == pid) {
      parent = static_cast<pid_t>(entry.th32ParentProcessID);
      break;
    }
  }
  CloseHandle(snapshot);
  if (!parent) return std::nullopt;
  const auto childStart = windows::processStartTime(pid);
  const auto parentStart = windows::processStartTime(*parent);
  if (childStart && parentStart && *parentStart > *childStart) return std::nullopt;
  return parent;
}

std::optional<pid_t> responsiblePid(pid_t /*pid*/) { return std::nullopt; }

}  // namespace platform::processes
