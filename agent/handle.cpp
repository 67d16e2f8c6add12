#include "agent/handle.h"

#include <optional>
#include <utility>

#include "agent/accessibility/page_request.h"
#include "agent/command.h"

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
  submitPageRequest(std::move(request));
}

}  // namespace tondrel
