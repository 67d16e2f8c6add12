// The readers of the scenario's sections; each answers false with the problem
// recorded in the place's problem slot.
#pragma once

#include "place.h"
#include "scenario.h"

#include <map>
#include <string>
#include <vector>

bool readSystem(const Place& top, Scenario& scenario);
bool readAudio(const Place& audio, Scenario& scenario);
bool readAccessibility(const Place& accessibility, Scenario& scenario);

// Reads a pid from `low` to the largest signed 32-bit value.
bool readPid(const Place& place, std::int64_t low, pid_t& out);

// Reads an array of entries that each carry a pid, refusing a pid given twice.
template <typename Entry, typename Read>
bool readPidList(const Place& place, const char* owner, std::vector<Entry>& out, Read read) {
  if (!place.array()) return false;
  std::map<pid_t, std::string> seen;
  for (std::size_t i = 0; i < place.json().size(); ++i) {
    const Place item = *place.item(i);
    Entry entry;
    if (!read(item, entry)) return false;
    const std::string pointer = item.memberPointer("pid");
    const auto [where, fresh] = seen.emplace(entry.pid, pointer);
    if (!fresh) {
      return item.problemAt(pointer, "expected a pid not given to another " + std::string(owner) +
                                         ", found " + std::to_string(entry.pid) + " (also at " +
                                         where->second + ")");
    }
    out.push_back(std::move(entry));
  }
  return true;
}
