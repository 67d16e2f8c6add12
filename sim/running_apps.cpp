#include "platform/applications.h"

#include "sim/running_apps.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex lock;
std::vector<sim::apps::App>& registry() {
  static auto* instance = new std::vector<sim::apps::App>;
  return *instance;
}
std::atomic<long> lookupCount{0};

}  // namespace

namespace sim::apps {

void set(std::vector<App> apps) {
  std::lock_guard<std::mutex> guard(lock);
  registry() = std::move(apps);
}

void add(App app) {
  std::lock_guard<std::mutex> guard(lock);
  registry().push_back(std::move(app));
}

void remove(pid_t pid) {
  std::lock_guard<std::mutex> guard(lock);
  std::erase_if(registry(), [pid](const App& app) { return app.pid == pid; });
}

void reset() {
  std::lock_guard<std::mutex> guard(lock);
  registry().clear();
  lookupCount.store(0);
}

long lookups() { return lookupCount.load(); }

}  // namespace sim::apps

std::optional<platform::RunningApplication> platform::runningApplication(pid_t pid) {
  lookupCount.fetch_add(1);
  std::lock_guard<std::mutex> guard(lock);
  for (const auto& app : registry()) {
    if (app.pid == pid) {
      return RunningApplication{app.activationPolicy, app.bundleId, app.name};
    }
  }
  return std::nullopt;
}

std::vector<pid_t> platform::runningApplicationPids(std::string_view bundleIdentifier) {
  lookupCount.fetch_add(1);
  std::lock_guard<std::mutex> guard(lock);
  std::vector<pid_t> pids;
  for (const auto& app : registry()) {
    if (app.bundleId && *app.bundleId == bundleIdentifier) pids.push_back(app.pid);
  }
  return pids;
}
