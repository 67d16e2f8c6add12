#include "agent/audio/mic_event.h"

#include <cstdint>
#include <string>

namespace tondrel {

Message micEvent(bool running, std::optional<pid_t> pid, const std::optional<OwningApp>& app) {
  Value pidValue;
  if (pid) pidValue = static_cast<std::int64_t>(*pid);
  Value appPid;
  Value bundleId;
  Value appName;
  if (app) {
    appPid = static_cast<std::int64_t>(app->pid);
    bundleId = app->bundleId;
    if (app->name) appName = *app->name;
  }
  return {
      {"event", std::string("mic")}, {"running", running}, {"pid", pidValue}, {"appPid", appPid},
      {"bundleId", bundleId},        {"appName", appName}};
}

}  // namespace tondrel
