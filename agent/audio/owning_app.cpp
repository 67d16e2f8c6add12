#include "agent/audio/owning_app.h"

#include "agent/audio/parent_pid.h"
#include "platform/applications.h"
#include "platform/processes.h"

#include <array>
#include <cstddef>

namespace tondrel {

namespace {

// Ancestors farther away than this are not looked at.
constexpr int maxAncestors = 6;

// One responsible pid, the pid itself and the ancestors; not de-duplicated, a
// pid that stands twice is simply looked up twice.
struct Candidates {
  std::array<pid_t, 2 + maxAncestors> pids{};
  std::size_t count = 0;
  void append(pid_t pid) { pids[count++] = pid; }
};

Candidates candidates(pid_t pid) {
  Candidates list;
  const std::optional<pid_t> responsible = platform::processes::responsiblePid(pid);
  if (responsible && *responsible >= 1) list.append(*responsible);
  list.append(pid);
  pid_t current = pid;
  for (int generation = 0; generation < maxAncestors; ++generation) {
    const std::optional<pid_t> parent = parentPid(current);
    if (!parent) break;
    list.append(*parent);
    current = *parent;
  }
  return list;
}

}  // namespace

std::optional<OwningApp> owningApp(pid_t pid) {
  // The list is complete before the registry is asked: the match runs over one
  // fixed set of candidates, in their order of precedence.
  const Candidates list = candidates(pid);
  for (std::size_t i = 0; i < list.count; ++i) {
    const pid_t candidate = list.pids[i];
    std::optional<platform::RunningApplication> app = platform::runningApplication(candidate);
    if (!app) continue;
    if (app->activationPolicy != platform::activationPolicyRegular) continue;
    if (!app->bundleIdentifier) continue;
    return OwningApp{candidate, std::move(*app->bundleIdentifier), std::move(app->localizedName)};
  }
  return std::nullopt;
}

}  // namespace tondrel
