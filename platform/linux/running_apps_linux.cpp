// Running applications by desktop application id (which stands in for the
// bundle identifier), from /proc and the desktop entries.
#include "platform/applications.h"

#include "platform/linux/desktop_apps.h"
#include "platform/linux/x11_windows.h"

#include <cstdlib>
#include <string>

namespace platform {

namespace {

desktop::EntryIndex& entries() {
  // Never destroyed: a lookup may still run on another thread at exit, and
  // the index's reading thread with it.
  static auto* index = [] {
    auto* created = new desktop::EntryIndex(desktop::Environment::fromProcess());
    const char* display = std::getenv("DISPLAY");
    created->setWindowSource(desktop::X11WindowSource::start(display != nullptr ? display : ""));
    return created;
  }();
  return *index;
}

}  // namespace

std::optional<RunningApplication> runningApplication(pid_t pid) {
  std::optional<desktop::Application> application = desktop::applicationOfProcess(pid, entries());
  if (!application) return std::nullopt;
  // An application the desktop knows by id is one a user started and sees:
  // the regular kind.
  return RunningApplication{activationPolicyRegular, std::move(application->id),
                            std::move(application->name)};
}

std::vector<pid_t> runningApplicationPids(std::string_view bundleIdentifier) {
  if (bundleIdentifier.empty()) return {};
  return desktop::processesOfApplication(std::string(bundleIdentifier), entries());
}

}  // namespace platform
