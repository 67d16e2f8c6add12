// The regular application that owns a process.
#pragma once

#include <optional>
#include <string>

#include <sys/types.h>

namespace tondrel {

struct OwningApp {
  // The application's own pid, often not the pid asked about.
  pid_t pid = 0;
  std::string bundleId;
  std::optional<std::string> name;
};

// The first candidate that is a running regular application with a bundle
// identifier: the process the system holds responsible for `pid`, then `pid`
// itself, then its ancestors, nearest first, up to six generations. Reads the
// live process table and registry on every call.
std::optional<OwningApp> owningApp(pid_t pid);

}  // namespace tondrel
