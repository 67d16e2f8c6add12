#include "agent/accessibility/page_urls.h"

#include <optional>

#include "agent/accessibility/web_area_urls.h"
#include "platform/accessibility.h"
#include "platform/loop.h"

namespace tondrel {

namespace {

namespace ax = platform::accessibility;

constexpr double messagingTimeout = 1.0;
constexpr double attemptWait = 0.3;

// Makes sure the application exposes its tree. Answers the switch that this
// query set to true, which it must set back to false; nothing when the
// application was on already or would not be switched on.
std::optional<ax::Switch> switchOn(const ax::Element& application) {
  for (const ax::Switch which :
       {ax::Switch::manualAccessibility, ax::Switch::enhancedUserInterface}) {
    if (ax::readSwitch(application, which).value_or(false)) return std::nullopt;
    if (ax::writeSwitch(application, which, true)) return which;
  }
  return std::nullopt;
}

// A wait only when the deadline leaves room for it and for something after it.
bool wait(const RequestBounds& bounds) {
  if (bounds.secondsLeft() <= attemptWait) return false;
  loop::sleepFor(attemptWait);
  return true;
}

// An application that was only just switched on may need a while to build its
// tree, so it gets more attempts than one that was on already (or refused).
std::vector<std::string> attemptWalks(const ax::Element& application, bool switched,
                                      RequestBounds& bounds) {
  const int attempts = switched ? 4 : 2;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1 && !wait(bounds)) return {};
    std::vector<std::string> urls = webAreaUrls(application, bounds);
    if (!urls.empty() || bounds.expired()) return urls;
  }
  // One more wait before switching off, for a tree that is still coming up.
  if (switched) wait(bounds);
  return {};
}

}  // namespace

std::vector<std::string> pageUrls(pid_t pid, RequestBounds& bounds) {
  // An application not reached by the deadline is not asked at all.
  if (bounds.expired()) return {};
  const ax::ElementPtr application = ax::applicationElement(pid, messagingTimeout);
  if (!application) return {};
  const std::optional<ax::Switch> switched = switchOn(*application);
  std::vector<std::string> urls = attemptWalks(*application, switched.has_value(), bounds);
  if (switched) ax::writeSwitch(*application, *switched, false);
  return urls;
}

}  // namespace tondrel
