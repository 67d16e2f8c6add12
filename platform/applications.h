// The system's running applications: which application a process is, and
// which processes an application id names. Thread-safe; each call asks the
// system afresh (a backend may cache what cannot change under it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace platform {

// How an application presents itself to the user, numbered as on the Mac.
// Only a regular application (one the user started and sees, with windows
// and a presence in the dock or task list) owns microphone use; a backend
// without such a distinction answers regular for every application it
// names.
inline constexpr std::int64_t activationPolicyRegular = 0;
inline constexpr std::int64_t activationPolicyAccessory = 1;
inline constexpr std::int64_t activationPolicyProhibited = 2;

struct RunningApplication {
  std::int64_t activationPolicy = activationPolicyRegular;
  // The application id a host names the application by: the bundle
  // identifier on the Mac, the desktop application id on Linux.
  std::optional<std::string> bundleIdentifier;
  // The application's name as the user sees it, in the user's language.
  std::optional<std::string> localizedName;
};

// The running application that process `pid` is, if it is one.
std::optional<RunningApplication> runningApplication(pid_t pid);

// The process ids of the running applications with this application id, in
// the system's order.
std::vector<pid_t> runningApplicationPids(std::string_view bundleIdentifier);

}  // namespace platform
