#include "sim/os_version.h"

#include <atomic>
#include <mutex>
#include <tuple>

namespace {

constexpr platform::darwin::OsVersion defaultVersion{14, 0, 0};

std::mutex lock;
platform::darwin::OsVersion current = defaultVersion;
std::atomic<long> checkCount{0};

}  // namespace

namespace sim::os {

void setVersion(platform::darwin::OsVersion version) {
  std::lock_guard<std::mutex> guard(lock);
  current = version;
}

platform::darwin::OsVersion version() {
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

bool platform::darwin::operatingSystemIsAtLeast(OsVersion wanted) {
  checkCount.fetch_add(1);
  const platform::darwin::OsVersion running = sim::os::version();
  return std::tie(running.major, running.minor, running.patch) >=
         std::tie(wanted.major, wanted.minor, wanted.patch);
}
