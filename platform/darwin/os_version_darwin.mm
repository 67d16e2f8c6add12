#include "platform/os_version.h"

#import <Foundation/Foundation.h>

bool platform::operatingSystemIsAtLeast(OsVersion version) {
  const NSOperatingSystemVersion wanted = {version.major, version.minor, version.patch};
  return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:wanted];
}
