#include "agent/handle.h"

#include <optional>
#include <utility>

#include "agent/accessibility/page_request.h"
#include "agent/command.h"
#include "agent/globals.h"
#include "agent/input.h"
#include "platform/loop.h"

namespace tondrel {

void handle(std::string_view line) {
  std::optional<Command> command = parseCommand(line);
  if (!command) return;
  PageRequest request{command->id, {}};
  if (command->pid) {
    request.pids.push_back(*command->pid);
  } else {
    // Resolved here, on the main thread, so the answer reflects the
    // applications running when the command arrived.
    request.pids = pidsOfBundleIds(command->bundleIds);
  }
  // Counted as held input until the page reader has answered it (the task
  // after it on the same serial queue), so a host that asks faster than
  // pages are read is made to wait rather than queueing without end.
  const std::size_t cost = requestCost(request.pids.size());
  holdRequest(cost);
  submitPageRequest(std::move(request));
  loop::submit(pageReads, [cost] { releaseRequest(cost); });
}

}  // namespace tondrel
