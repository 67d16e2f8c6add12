#include "platform/applications.h"

#import <AppKit/AppKit.h>

namespace {

std::optional<std::string> text(NSString* string) {
  if (string == nil) return std::nullopt;
  const char* utf8 = string.UTF8String;
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8);
}

}  // namespace

std::optional<platform::RunningApplication> platform::runningApplication(pid_t pid) {
  // Neither the main run loop nor the dispatch threads drain a pool for us.
  @autoreleasepool {
    NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    if (app == nil) return std::nullopt;
    RunningApplication result;
    result.activationPolicy = static_cast<std::int64_t>(app.activationPolicy);
    result.bundleIdentifier = text(app.bundleIdentifier);
    result.localizedName = text(app.localizedName);
    return result;
  }
}

std::vector<pid_t> platform::runningApplicationPids(std::string_view bundleIdentifier) {
  @autoreleasepool {
    std::vector<pid_t> pids;
    NSString* identifier = [[NSString alloc] initWithBytes:bundleIdentifier.data()
                                                    length:bundleIdentifier.size()
                                                  encoding:NSUTF8StringEncoding];
    if (identifier == nil) return pids;
    for (NSRunningApplication* app in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
      pids.push_back(app.processIdentifier);
    }
    return pids;
  }
}
