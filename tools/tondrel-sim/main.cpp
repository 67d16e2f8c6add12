// tondrel-sim: builds the simulated Mac from a scenario file, then hands the
// process to the agent's own start-up, exactly as `tondrel` runs it.
#include "options.h"
#include "scenario.h"
#include "world.h"

#include "agent/startup.h"
#include "common/utf8.h"
#include "platform/threads/loop_threads.h"
#include "sim/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The message as one line of text. It may quote keys, values and file names
// holding control characters (a line feed would split it, a NUL cut it short)
// or bytes that are not UTF-8; those are written as escapes and repaired.
std::string oneLine(const std::string& message) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  for (const char c : tondrel::repairedUtf8(message)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// Everything that stops the tool before the agent starts goes to standard
// error, so standard output carries the agent's message stream and nothing
// else.
int refuse(const std::string& message, const char* usage = nullptr) {
  std::string text = "tondrel-sim: " + oneLine(message) + "\n";
  if (usage != nullptr) text += std::string(usage) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Before the scenario and the trace file are opened, so neither can end up
  // as the agent's input or output.
  tondrel::reserveStandardDescriptors();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedOptions parsed = parseOptions(arguments);
  if (!parsed.options) {
    return refuse(parsed.error.message, usageLine);
  }
  const Options& options = *parsed.options;
  if (options.help) {
    std::fputs(usageText, stdout);
    return 0;
  }

  LoadedScenario loaded = loadScenario(options.scenarioPath);
  if (!loaded.scenario) return refuse(loaded.refusal);

  if (!options.tracePath.empty() && !sim::trace::toFile(options.tracePath)) {
    return refuse("cannot open the trace file " + options.tracePath + ": " + std::strerror(errno));
  }

  buildWorld(std::move(*loaded.scenario));
  loop::threads::useRealClock(options.speed);
  return tondrel::agentMain();
}
