// Reading one command line.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tondrel {

// A valid page-urls command: its id, and either one pid or the bundle
// identifiers to look up (empty when "bundleIds" was missing or not a list of
// strings).
struct Command {
  std::int64_t id = 0;
  std::optional<pid_t> pid;
  std::vector<std::string> bundleIds;
};

// Checks one line; nothing when it is not a valid command.
std::optional<Command> parseCommand(std::string_view line);

}  // namespace tondrel
