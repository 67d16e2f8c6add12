#include "agent/accessibility/page_urls.h"

#include <optional>
#include <string_view>

#include "agent/accessibility/element_access.h"
#include "agent/accessibility/web_area_urls.h"
#include "platform/loop.h"

namespace tondrel {

namespace {

constexpr std::string_view manualAccessibility = "AXManualAccessibility";
constexpr std::string_view enhancedUserInterface = "AXEnhancedUserInterface";
constexpr float messagingTimeout = 1.0f;
constexpr double attemptWait = 0.3;

// Makes sure the application exposes its tree. Answers the attribute that this
// query set to true, which it must set back to false; nothing when the
// application was on already or would not be switched on.
std::optional<std::string_view> switchOn(AXUIElementRef application) {
  for (std::string_view name : {manualAccessibility, enhancedUserInterface}) {
    if (isTrue(attribute(application, name).get())) return std::nullopt;
    if (setAttribute(application, name, kCFBooleanTrue)) return name;
  }
  return std::nullopt;
}

// An application that was only just switched on may need a while to build its
// tree, so it gets more attempts than one that was on already (or refused).
std::vector<std::string> attemptWalks(AXUIElementRef application, bool switched) {
  const int attempts = switched ? 4 : 2;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1) loop::sleepFor(attemptWait);
    std::vector<std::string> urls = webAreaUrls(application);
    if (!urls.empty()) return urls;
  }
  // One more wait before switching off, for a tree that is still coming up.
  if (switched) loop::sleepFor(attemptWait);
  return {};
}

}  // namespace

std::vector<std::string> pageUrls(pid_t pid) {
  const auto application = adoptCF(AXUIElementCreateApplication(pid));
  if (!application) return {};
  // Only this element's calls are bounded: the system-wide default stays.
  AXUIElementSetMessagingTimeout(application.get(), messagingTimeout);
  const std::optional<std::string_view> switched = switchOn(application.get());
  std::vector<std::string> urls = attemptWalks(application.get(), switched.has_value());
  if (switched) setAttribute(application.get(), *switched, kCFBooleanFalse);
  return urls;
}

}  // namespace tondrel
