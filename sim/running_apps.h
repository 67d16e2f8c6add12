// The simulated Mac's running applications.
#pragma once

#include "platform/applications.h"

#include <vector>

namespace sim::apps {

struct App {
  pid_t pid = 0;
  std::int64_t activationPolicy = platform::activationPolicyRegular;
  std::optional<std::string> bundleId;
  std::optional<std::string> name;
};

// Replaces the registry; the order given is the order the platform lists
// applications that share a bundle identifier in.
void set(std::vector<App> apps);
void add(App app);
void remove(pid_t pid);
void reset();

// How often the registry was asked, for tests that count platform calls.
long lookups();

}  // namespace sim::apps
