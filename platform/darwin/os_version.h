// The running macOS version, for the answers that depend on it. On the Mac
// it comes from Foundation (os_version_darwin.mm); the simulated Mac answers
// what its scenario says.
#pragma once

namespace platform::darwin {

struct OsVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

// Whether the running system is this version or a later one.
bool operatingSystemIsAtLeast(OsVersion version);

}  // namespace platform::darwin
