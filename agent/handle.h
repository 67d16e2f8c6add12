// What the agent does with one line of input.
#pragma once

#include <string_view>

namespace tondrel {

// Checks one line and, when it is a valid command, resolves its pids and
// queues its work on pageReads. An invalid line changes nothing.
void handle(std::string_view line);

}  // namespace tondrel
