// The command line of tondrel-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Options {
  double speed = 1.0;
  // Empty: no trace.
  std::string tracePath;
  std::string scenarioPath;
  bool help = false;
};

struct UsageError {
  std::string message;
};

// Reads the arguments after the program name. Either the options or what is
// wrong with them.
struct ParsedOptions {
  std::optional<Options> options;
  UsageError error;
};
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

extern const char* const usageLine;
extern const char* const usageText;
