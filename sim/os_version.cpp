#include "platform/os_version.h"

#include "sim/os_version.h"

#include <atomic>
#include <mutex>
#include <tuple>

namespace {

constexpr platform::OsVersion defaultVersion{14, 0, 0};

std::mutex lock;
platform::OsVersion current = defaultVersion;
std::atomic<long> checkCount{0};

}  // namespace

namespace sim::os {

void setVersion(platform::OsVersion version) {
  std::lock_guard<std::mutex> guard(lock);
  current = version;
}

platform::OsVersion version() {
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

bool platform::operatingSystemIsAtLeast(OsVersion wanted) {
  checkCount.fetch_add(1);
  const platform::OsVersion running = sim::os::version();
  return std::tie(running.major, running.minor, running.patch) >=
         std::tie(wanted.major, wanted.minor, wanted.patch);
}
