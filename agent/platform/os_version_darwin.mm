#include "agent/platform/os_version.h"

#import <Foundation/Foundation.h>

bool operatingSystemIsAtLeast(OsVersion version) {
  const NSOperatingSystemVersion wanted = {version.major, version.minor, version.patch};
  return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:wanted];
}
