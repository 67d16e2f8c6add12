// The audio part of a scenario: the process objects, the devices, the default
// input device, list failures, and a timeline of changes counted in polls.
#include "sections.h"

#include <map>

namespace {

constexpr std::int64_t idMax = UINT32_MAX;
constexpr std::int64_t pollMax = 1'000'000'000;

// A 32-bit property value, "fails" for a read that fails, or a boolean for 1
// and 0.
bool readFlag(const Place& place, std::optional<UInt32>& out) {
  const nlohmann::json& value = place.json();
  if (value.is_boolean()) {
    out = value.get<bool>() ? 1u : 0u;
    return true;
  }
  if (value.is_string() && value.get_ref<const std::string&>() == "fails") {
    out.reset();
    return true;
  }
  if (value.is_number()) {
    std::int64_t number = 0;
    if (!readWhole(place, 0, idMax, "true, false, \"fails\" or a property value", number)) {
      return false;
    }
    out = static_cast<UInt32>(number);
    return true;
  }
  return place.expected("true, false, \"fails\" or a whole number from 0 to 4294967295");
}

bool readObjectId(const Place& place, AudioObjectID& out) {
  std::int64_t value = 0;
  // 0 names no object and 1 is the audio system itself.
  if (!readWhole(place, 2, idMax, "an audio object id", value)) return false;
  out = static_cast<AudioObjectID>(value);
  return true;
}

bool readProcessObject(const Place& place, sim::audio::Process& out) {
  if (!place.object({"id", "pid", "input"})) return false;
  return requiredMember(place, "id", "an audio object id",
                        [&](const Place& p) { return readObjectId(p, out.id); }) &&
         requiredMember(place, "pid", "a pid or \"fails\"",
                        [&](const Place& p) {
                          if (p.json().is_string() &&
                              p.json().get_ref<const std::string&>() == "fails") {
                            out.pid.reset();
                            return true;
                          }
                          if (!p.json().is_number()) return p.expected("a pid or \"fails\"");
                          pid_t pid = 0;
                          if (!readPid(p, 1, pid)) return false;
                          out.pid = pid;
                          return true;
                        }) &&
         optionalMember(place, "input",
                        [&](const Place& p) { return readFlag(p, out.runningInput); });
}

bool readDevice(const Place& place, sim::audio::Device& out) {
  if (!place.object({"id", "running"})) return false;
  return requiredMember(place, "id", "an audio object id",
                        [&](const Place& p) { return readObjectId(p, out.id); }) &&
         optionalMember(place, "running",
                        [&](const Place& p) { return readFlag(p, out.runningSomewhere); });
}

// An array of objects with ids, refusing an id given twice.
template <typename Entry, typename Read>
bool readIdList(const Place& place, std::vector<Entry>& out, Read read) {
  if (!place.array()) return false;
  std::map<AudioObjectID, std::string> seen;
  out.clear();
  for (std::size_t i = 0; i < place.json().size(); ++i) {
    const Place item = *place.item(i);
    Entry entry;
    if (!read(item, entry)) return false;
    const std::string pointer = item.memberPointer("id");
    const auto [where, fresh] = seen.emplace(entry.id, pointer);
    if (!fresh) {
      return item.problemAt(pointer, "expected an id not used before in this list, found " +
                                         std::to_string(entry.id) + " (also at " +
                                         where->second + ")");
    }
    out.push_back(entry);
  }
  return true;
}

bool readState(const Place& place, AudioState& out) {
  return optionalMember(place, "processes",
                        [&](const Place& p) {
                          return readIdList(p, out.processes.emplace(), readProcessObject);
                        }) &&
         optionalMember(place, "devices",
                        [&](const Place& p) {
                          return readIdList(p, out.devices.emplace(), readDevice);
                        }) &&
         optionalMember(place, "defaultInputDevice",
                        [&](const Place& p) {
                          if (p.json().is_string() &&
                              p.json().get_ref<const std::string&>() == "fails") {
                            out.defaultInputDevice.emplace(std::nullopt);
                            return true;
                          }
                          if (!p.json().is_number()) {
                            return p.expected("an audio object id (0 for none) or \"fails\"");
                          }
                          std::int64_t id = 0;
                          if (!readWhole(p, 0, idMax, "an audio object id (0 for none)", id)) {
                            return false;
                          }
                          out.defaultInputDevice.emplace(static_cast<AudioObjectID>(id));
                          return true;
                        }) &&
         optionalMember(place, "listFailure", [&](const Place& p) {
           std::size_t index = 0;
           if (!readName(p, {"none", "sizeQuery", "read"}, index)) return false;
           constexpr sim::audio::ListFailure failures[] = {sim::audio::ListFailure::none,
                                                           sim::audio::ListFailure::sizeQuery,
                                                           sim::audio::ListFailure::read};
           out.listFailure = failures[index];
           return true;
         });
}

bool readTimeline(const Place& place, std::vector<AudioStep>& out) {
  if (!place.array()) return false;
  long previous = 0;
  for (std::size_t i = 0; i < place.json().size(); ++i) {
    const Place item = *place.item(i);
    if (!item.object({"poll", "processes", "devices", "defaultInputDevice", "listFailure"})) {
      return false;
    }
    AudioStep step;
    const bool read =
        requiredMember(item, "poll", "a poll number",
                       [&](const Place& p) {
                         std::int64_t poll = 0;
                         if (!readWhole(p, previous + 1, pollMax,
                                        previous == 0 ? "a poll number"
                                                      : "a poll number after the step before",
                                        poll)) {
                           return false;
                         }
                         step.poll = static_cast<long>(poll);
                         return true;
                       }) &&
        readState(item, step.state);
    if (!read) return false;
    previous = step.poll;
    out.push_back(std::move(step));
  }
  return true;
}

}  // namespace

bool readAudio(const Place& audio, Scenario& scenario) {
  return audio.object({"processes", "devices", "defaultInputDevice", "listFailure",
                       "timeline"}) &&
         readState(audio, scenario.audio) &&
         optionalMember(audio, "timeline",
                        [&](const Place& p) { return readTimeline(p, scenario.timeline); });
}
