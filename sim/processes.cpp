#include "sim/processes.h"

#include "sim/symbols.h"

#include <sys/sysctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

std::mutex lock;
std::vector<sim::processes::Process>& table() {
  static auto* instance = new std::vector<sim::processes::Process>;
  return *instance;
}
std::atomic<long> queryCount{0};
std::atomic<long> responsibleCount{0};

const sim::processes::Process* find(pid_t pid) {
  for (const auto& process : table()) {
    if (process.pid == pid) return &process;
  }
  return nullptr;
}

void defineResponsibleFunction(bool present) {
  sim::symbols::define(
      sim::processes::responsibleFunctionName,
      present ? reinterpret_cast<void*>(&sim::processes::responsibleFor) : nullptr);
}

// The function is there from the start, as on every supported system, without
// waiting for a test or scenario to ask for it.
const bool definedAtStart = (defineResponsibleFunction(true), true);

}  // namespace

namespace sim::processes {

void set(std::vector<Process> processes) {
  std::lock_guard<std::mutex> guard(lock);
  table() = std::move(processes);
}

void add(Process process) {
  std::lock_guard<std::mutex> guard(lock);
  for (auto& existing : table()) {
    if (existing.pid == process.pid) {
      existing = process;
      return;
    }
  }
  table().push_back(process);
}

void remove(pid_t pid) {
  std::lock_guard<std::mutex> guard(lock);
  std::erase_if(table(), [pid](const Process& process) { return process.pid == pid; });
}

void setResponsibleFunctionPresent(bool present) { defineResponsibleFunction(present); }

pid_t responsibleFor(pid_t pid) {
  responsibleCount.fetch_add(1);
  std::lock_guard<std::mutex> guard(lock);
  const Process* process = find(pid);
  if (process == nullptr) return -1;
  return process->responsible.value_or(pid);
}

void reset() {
  (void)definedAtStart;
  {
    std::lock_guard<std::mutex> guard(lock);
    table().clear();
  }
  defineResponsibleFunction(true);
  queryCount.store(0);
  responsibleCount.store(0);
}

long queries() { return queryCount.load(); }
long responsibleLookups() { return responsibleCount.load(); }

}  // namespace sim::processes

extern "C" int sysctl(int* name, unsigned int namelen, void* oldp, size_t* oldlenp, void* newp,
                      size_t newlen) {
  queryCount.fetch_add(1);
  // Only the record-by-pid query exists here, and nothing can be written.
  if (name == nullptr || namelen != 4 || name[0] != CTL_KERN || name[1] != KERN_PROC ||
      name[2] != KERN_PROC_PID || newp != nullptr || newlen != 0 || oldlenp == nullptr) {
    errno = EINVAL;
    return -1;
  }
  std::lock_guard<std::mutex> guard(lock);
  const sim::processes::Process* process = find(name[3]);
  if (process != nullptr && process->queryFails) {
    errno = EPERM;
    return -1;
  }
  if (process == nullptr) {
    *oldlenp = 0;
    return 0;
  }
  if (oldp == nullptr) {
    *oldlenp = sizeof(kinfo_proc);
    return 0;
  }
  if (*oldlenp < sizeof(kinfo_proc)) {
    errno = ENOMEM;
    return -1;
  }
  kinfo_proc record;
  std::memset(&record, 0, sizeof record);
  record.kp_eproc.e_ppid = process->parent;
  std::memcpy(oldp, &record, sizeof record);
  *oldlenp = sizeof record;
  return 0;
}
