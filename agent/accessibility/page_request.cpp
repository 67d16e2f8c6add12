#include "agent/accessibility/page_request.h"

#include "agent/accessibility/page_urls.h"
#include "agent/accessibility/request_bounds.h"
#include "agent/emit.h"
#include "agent/globals.h"
#include "platform/accessibility.h"
#include "platform/applications.h"
#include "platform/loop.h"

namespace tondrel {

std::vector<pid_t> pidsOfBundleIds(const std::vector<std::string>& bundleIds) {
  std::vector<pid_t> pids;
  for (const std::string& bundleId : bundleIds) {
    const std::vector<pid_t> running = platform::runningApplicationPids(bundleId);
    pids.insert(pids.end(), running.begin(), running.end());
  }
  return pids;
}

void answerPageRequest(const PageRequest& request) {
  const bool trusted = platform::accessibility::trusted();
  std::vector<std::string> urls;
  if (trusted) {
    RequestBounds bounds(pageRequestSeconds, maxChildrenPerRequest);
    for (const pid_t pid : request.pids) {
      std::vector<std::string> found = pageUrls(pid, bounds);
      urls.insert(urls.end(), std::make_move_iterator(found.begin()),
                  std::make_move_iterator(found.end()));
    }
  }
  emit({{"event", std::string("page-urls")},
        {"id", request.id},
        {"trusted", trusted},
        {"urls", std::move(urls)}});
}

void submitPageRequest(PageRequest request) {
  loop::submit(pageReads, [request = std::move(request)] { answerPageRequest(request); });
}

}  // namespace tondrel
