#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char* const usageLine = "usage: tondrel-sim [--speed FACTOR] [--trace FILE] SCENARIO.json";

const char* const usageText =
    "usage: tondrel-sim [--speed FACTOR] [--trace FILE] SCENARIO.json\n"
    "\n"
    "Runs the agent against the simulated Mac that SCENARIO.json describes, with\n"
    "standard input and output as the agent has them.\n"
    "\n"
    "  --speed FACTOR  divide every poll interval and wait by FACTOR (a number > 0)\n"
    "  --trace FILE    append one JSON line per poll and per thing the agent does to\n"
    "                  another application\n"
    "  --help          show this text\n";

namespace {

ParsedOptions refuse(std::string message) { return {std::nullopt, {std::move(message)}}; }

// A whole, finite, positive number written in plain decimal or exponent form.
std::optional<double> speedFactor(const std::string& text) {
  // strtod also reads "inf", "nan", hexadecimal forms and leading blanks; none
  // of them is a sensible speed, so only decimal digits, a point and an
  // exponent pass.
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos ||
      text[0] == 'e' || text[0] == 'E' || text[0] == '+') {
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size()) return std::nullopt;
  if (!std::isfinite(value) || !(value > 0)) return std::nullopt;
  return value;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  bool speedGiven = false;
  bool traceGiven = false;
  bool optionsEnded = false;
  std::vector<std::string> positional;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      continue;
    }

    // --name VALUE and --name=VALUE.
    std::string name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('='); equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    if (name != "--speed" && name != "--trace") {
      return refuse("unknown option " + name);
    }
    if (!value) {
      if (i + 1 >= arguments.size()) return refuse(name + " needs a value");
      value = arguments[++i];
    }

    if (name == "--speed") {
      if (speedGiven) return refuse("--speed given twice");
      speedGiven = true;
      const auto factor = speedFactor(*value);
      if (!factor) {
        return refuse("--speed expects a number greater than 0, got \"" + *value + "\"");
      }
      options.speed = *factor;
    } else {
      if (traceGiven) return refuse("--trace given twice");
      traceGiven = true;
      if (value->empty()) return refuse("--trace expects a file name");
      options.tracePath = *value;
    }
  }

  if (options.help) return {options, {}};
  if (positional.empty()) return refuse("no scenario file given");
  if (positional.size() > 1) {
    return refuse("one scenario file expected, got " + std::to_string(positional.size()));
  }
  options.scenarioPath = positional.front();
  return {options, {}};
}
