// The platform's registry of running applications.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace platform {

// Activation policies as the platform numbers them.
inline constexpr std::int64_t activationPolicyRegular = 0;
inline constexpr std::int64_t activationPolicyAccessory = 1;
inline constexpr std::int64_t activationPolicyProhibited = 2;

struct RunningApplication {
  std::int64_t activationPolicy = activationPolicyRegular;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;
};

// The running application with this process id, if there is one.
std::optional<RunningApplication> runningApplication(pid_t pid);

// The process ids of the running applications with this bundle identifier, in
// the platform's order.
std::vector<pid_t> runningApplicationPids(std::string_view bundleIdentifier);

}  // namespace platform
