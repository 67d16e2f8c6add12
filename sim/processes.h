// The simulated Mac's process table and its responsible-process function.
//
// The table answers the process-table query of <sys/sysctl.h> (the record by
// pid, of which only the parent pid is modelled). The responsible-process
// function is the system library's "responsibility_get_pid_responsible_for_pid":
// while present, dlsym() finds it; code that looked it up earlier keeps its
// address, and the function then answers as the table says.
#pragma once

#include <optional>
#include <vector>

#include <sys/types.h>

namespace sim::processes {

inline constexpr const char* responsibleFunctionName = "responsibility_get_pid_responsible_for_pid";

struct Process {
  Process() = default;
  Process(pid_t processId, pid_t parentId = 1, std::optional<pid_t> responsibleId = std::nullopt,
          bool failing = false)
      : pid(processId), parent(parentId), responsible(responsibleId), queryFails(failing) {}

  pid_t pid = 0;
  // The recorded parent; 0 and 1 are what the platform records for processes
  // started by the kernel or by launchd.
  pid_t parent = 1;
  // What the responsible-process function answers for this pid; absent: the
  // process is responsible for itself (the function answers its own pid). Any
  // value may be given, 0 and negative ones included.
  std::optional<pid_t> responsible;
  // The query for this pid fails (status -1) instead of answering the record.
  bool queryFails = false;
};

// Replaces the table. For a pid without an entry the query succeeds with no
// record (length 0), as for a process that has exited, and the
// responsible-process function answers -1.
void set(std::vector<Process> processes);
// Adds the process, or replaces the entry with the same pid.
void add(Process process);
void remove(pid_t pid);

// Whether this system has the responsible-process function. It has it before
// any call and after reset().
void setResponsibleFunctionPresent(bool present);
// The function itself, as dlsym() would find it; for code that does not look it
// up.
pid_t responsibleFor(pid_t pid);

// Empties the table, makes the responsible-process function present and sets
// the counts to 0.
void reset();

// Process-table queries and responsible-process calls so far.
long queries();
long responsibleLookups();

}  // namespace sim::processes
