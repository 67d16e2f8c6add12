// The system part of a scenario: OS version, the responsible-process
// function, the process table and the running applications.
#include "sections.h"

#include <climits>
#include <map>

namespace {

constexpr std::int64_t pidMax = INT32_MAX;

// "14", "14.2" or "14.2.1".
bool readVersion(const Place& place, platform::darwin::OsVersion& out) {
  constexpr std::string_view what = "a version such as \"14.2.1\"";
  if (!place.json().is_string()) return place.expected(what);
  const auto& text = place.json().get_ref<const std::string&>();
  long parts[3] = {0, 0, 0};
  std::size_t count = 0;
  std::size_t i = 0;
  while (count < 3) {
    const std::size_t first = i;
    long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    if (i == first) return place.expected(what);
    parts[count++] = value;
    if (i == text.size()) break;
    if (text[i] != '.') return place.expected(what);
    ++i;
  }
  if (i != text.size()) return place.expected(what);
  out = {parts[0], parts[1], parts[2]};
  return true;
}

bool readProcess(const Place& place, sim::processes::Process& out) {
  if (!place.object({"pid", "parent", "responsible", "queryFails"})) return false;
  return requiredMember(place, "pid", "a pid",
                        [&](const Place& p) { return readPid(p, 0, out.pid); }) &&
         optionalMember(place, "parent",
                        [&](const Place& p) { return readPid(p, 0, out.parent); }) &&
         optionalMember(place, "responsible",
                        [&](const Place& p) {
                          std::int64_t value = 0;
                          if (!readWhole(p, INT32_MIN, INT32_MAX, "a pid", value)) return false;
                          out.responsible = static_cast<pid_t>(value);
                          return true;
                        }) &&
         optionalMember(place, "queryFails",
                        [&](const Place& p) { return readBool(p, out.queryFails); });
}

bool readOptionalString(const Place& place, std::optional<std::string>& out) {
  if (place.json().is_null()) {
    out.reset();
    return true;
  }
  if (!place.json().is_string()) return place.expected("a string or null");
  out = place.json().get<std::string>();
  return true;
}

bool readApplication(const Place& place, sim::apps::App& out) {
  if (!place.object({"pid", "bundleId", "name", "activationPolicy"})) return false;
  return requiredMember(place, "pid", "a pid",
                        [&](const Place& p) { return readPid(p, 1, out.pid); }) &&
         optionalMember(place, "bundleId",
                        [&](const Place& p) { return readOptionalString(p, out.bundleId); }) &&
         optionalMember(place, "name",
                        [&](const Place& p) { return readOptionalString(p, out.name); }) &&
         optionalMember(place, "activationPolicy", [&](const Place& p) {
           std::size_t policy = 0;
           if (!readName(p, {"regular", "accessory", "prohibited"}, policy)) return false;
           // The names in the order the platform numbers them.
           out.activationPolicy = static_cast<std::int64_t>(policy);
           return true;
         });
}

}  // namespace

bool readPid(const Place& place, std::int64_t low, pid_t& out) {
  std::int64_t value = 0;
  if (!readWhole(place, low, pidMax, "a pid", value)) return false;
  out = static_cast<pid_t>(value);
  return true;
}

bool readSystem(const Place& top, Scenario& scenario) {
  return optionalMember(top, "osVersion",
                        [&](const Place& p) { return readVersion(p, scenario.osVersion); }) &&
         optionalMember(
             top, "responsibleFunction",
             [&](const Place& p) { return readBool(p, scenario.responsibleFunction); }) &&
         optionalMember(top, "processes",
                        [&](const Place& p) {
                          return readPidList(p, "process", scenario.processes, readProcess);
                        }) &&
         optionalMember(top, "applications", [&](const Place& p) {
           return readPidList(p, "application", scenario.applications, readApplication);
         });
}
