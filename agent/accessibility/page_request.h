// The work item that answers a page-urls request.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tondrel {

// The pids of the running applications with these bundle identifiers: each
// identifier's in the platform's order, nothing filtered or de-duplicated.
std::vector<pid_t> pidsOfBundleIds(const std::vector<std::string>& bundleIds);

struct PageRequest {
  std::int64_t id = 0;
  std::vector<pid_t> pids;
};

// The page-urls work item: writes exactly one reply for the request. No
// application is touched without the Accessibility permission. The request's
// bounds (pageRequestSeconds, maxChildrenPerRequest) cover all its
// applications together; those not reached by the deadline add nothing.
void answerPageRequest(const PageRequest& request);

// Queues the work item on pageReads and returns at once.
void submitPageRequest(PageRequest request);

}  // namespace tondrel
