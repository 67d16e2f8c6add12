// A trace of what the agent did to the simulated Mac: attribute writes, walks,
// waits, polls. One JSON object per entry.
#pragma once

#include <string>
#include <vector>

namespace sim::trace {

// Keep entries in memory (for tests) until taken.
void capture(bool on);
// Append every entry as one line to this file as well ("" stops).
bool toFile(const std::string& path);
bool active();

// Records one entry, a JSON object's text. Thread-safe.
void record(std::string json);

// The entries kept in memory so far, oldest first; clears them.
std::vector<std::string> take();

}  // namespace sim::trace
