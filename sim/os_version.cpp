#include "agent/platform/os_version.h"

#include "sim/os_version.h"

#include <atomic>
#include <mutex>
#include <tuple>

namespace {

constexpr OsVersion defaultVersion{14, 0, 0};

std::mutex lock;
OsVersion current = defaultVersion;
std::atomic<long> checkCount{0};

}  // namespace

namespace sim::os {

void setVersion(OsVersion version) {
  std::lock_guard<std::mutex> guard(lock);
  current = version;
}

OsVersion version() {
  std::lock_guard<std::mutex> guard(lock);
  return current;
}

void reset() {
  std::lock_guard<std::mutex> guard(lock);
  current = defaultVersion;
  checkCount.store(0);
}

long checks() { return checkCount.load(); }

}  // namespace sim::os

bool operatingSystemIsAtLeast(OsVersion wanted) {
  checkCount.fetch_add(1);
  const OsVersion running = sim::os::version();
  return std::tie(running.major, running.minor, running.patch) >=
         std::tie(wanted.major, wanted.minor, wanted.patch);
}
