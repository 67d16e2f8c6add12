// parseCommand on its own, on arbitrary lines. Besides not crashing, what it
// accepts must not depend on the whitespace JSON allows around the object,
// anything after the object must make the line invalid, and a command written
// back as plain JSON must read as the same command.
#include "agent/command.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using namespace tondrel;

namespace {

[[noreturn]] void fault(const char* what, const std::string& line) {
  std::fprintf(
      stderr, "command reading: %s\nline: %s\n", what,
      nlohmann::json(line).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace).c_str());
  std::abort();
}

bool same(const std::optional<Command>& a, const std::optional<Command>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->id == b->id && a->pid == b->pid && a->bundleIds == b->bundleIds);
}

std::string written(const Command& command) {
  nlohmann::json json = {{"cmd", "page-urls"}, {"id", command.id}};
  if (command.pid) {
    json["pid"] = *command.pid;
  } else {
    json["bundleIds"] = command.bundleIds;
  }
  return json.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte is the chunk size of the other targets, skipped here so
  // that all three grow from the same seeds.
  if (size == 0) return 0;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::optional<Command> command = parseCommand(line);
  if (!same(command, parseCommand(line + "\r\t "))) {
    fault("whitespace after the object changed the answer", line);
  }
  // A byte order mark is taken only at the very start, so nothing goes before
  // a line that begins with one.
  if (!line.starts_with("\xEF\xBB\xBF") && !same(command, parseCommand(" \t\r" + line))) {
    fault("whitespace before the object changed the answer", line);
  }
  if (!command) return 0;
  if (command->pid && !command->bundleIds.empty()) fault("both a pid and bundle ids", line);
  if (parseCommand(line + "x")) fault("accepted with a stray byte after it", line);
  const std::string again = written(*command);
  if (!same(command, parseCommand(again))) fault("written back, it reads differently", line);
  return 0;
}
