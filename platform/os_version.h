// The running operating system's version.
#pragma once

namespace platform {

struct OsVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

// Whether the running system is this version or a later one.
bool operatingSystemIsAtLeast(OsVersion version);

}  // namespace platform
