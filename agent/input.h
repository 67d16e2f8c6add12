// Reading commands from standard input.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The readability handler of standard input: posts what is there to the main
// queue, or, at end of input, the task that ends the process.
void readChunk(int descriptor);

// Main-queue task for one chunk: appends it to `buffered` and hands every
// complete line to handle(), all within this one task.
void takeLines(std::string chunk);

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

// Checks one line and, when it is a valid command, resolves its pids and
// queues its work on pageReads. An invalid line changes nothing.
void handle(std::string_view line);

// Main-queue task posted at end of input: ends the process with status 0,
// without tear-down, after any line being written is complete.
[[noreturn]] void exitAtEndOfInput();
