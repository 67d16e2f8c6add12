#include "platform/darwin/os_version.h"

#import <Foundation/Foundation.h>

bool platform::darwin::operatingSystemIsAtLeast(OsVersion version) {
  const NSOperatingSystemVersion wanted = {version.major, version.minor, version.patch};
  return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:wanted];
}
