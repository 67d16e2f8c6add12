// tondrel-sim: builds the simulated Mac from a scenario file, then hands the
// process to the agent's own start-up, exactly as `tondrel` runs it.
#include "options.h"
#include "scenario.h"
#include "world.h"

#include "agent/startup.h"
#include "agent/utf8.h"
#include "sim/loop_control.h"
#include "sim/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Everything that stops the tool before the agent starts goes to standard
// error, so standard output carries the agent's message stream and nothing
// else.
int refuse(const std::string& message) {
  // The message may quote bytes of the file that are not UTF-8.
  std::fprintf(stderr, "tondrel-sim: %s\n", repairedUtf8(message).c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedOptions parsed = parseOptions(arguments);
  if (!parsed.options) {
    return refuse(parsed.error.message + "\n" + usageLine);
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
  sim::loop::useRealClock(options.speed);
  return agentMain();
}
