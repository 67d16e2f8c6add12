// The audio part of a scenario: the process objects, the devices, the default
// input device, list failures, and a timeline of changes counted in polls.
#include "sections.h"

#include <map>

namespace {

constexpr std::int64_t idMax = UINT32_MAX;
constexpr std::int64_t pollMax = 1'000'000'000;

bool isFails(const Place& place) {
  return place.json().is_string() && place.json().get_ref<const std::string&>() == "fails";
}

// A 32-bit property value, "fails" for a read that fails, or a boolean for 1
// and 0.
bool readFlag(const Place& place, std::optional<UInt32>& out) {
  const nlohmann::json& value = place.json();
  if (isFails(place)) {
    out.reset();
    return true;
  }
  if (value.is_boolean()) {
    out = value.get<bool>() ? 1u : 0u;
    return true;
  }
  if (!value.is_number()) {
    return place.expected("true, false, \"fails\" or a whole number from 0 to 4294967295");
  }
  std::int64_t number = 0;
  if (!readWhole(place, 0, idMax, "true, false, \"fails\" or a property value", number)) {
    return false;
  }
  out = static_cast<UInt32>(number);
  return true;
}

bool readObjectId(const Place& place, AudioObjectID& out) {
  std::int64_t value = 0;
  // 0 names no object and 1 is the audio system itself.
  if (!readWhole(place, 2, idMax, "an audio object id", value)) return false;
  out = static_cast<AudioObjectID>(value);
  return true;
}

bool readProcessPid(const Place& place, std::optional<pid_t>& out) {
  if (isFails(place)) {
    out.reset();
    return true;
  }
  if (!place.json().is_number()) return place.expected("a pid or \"fails\"");
  pid_t pid = 0;
  if (!readPid(place, 1, pid)) return false;
  out = pid;
  return true;
}

bool readProcessObject(const Place& place, sim::audio::Process& out) {
  if (!place.object({"id", "pid", "input"})) return false;
  return requiredMember(place, "id", "an audio object id",
                        [&](const Place& p) { return readObjectId(p, out.id); }) &&
         requiredMember(place, "pid", "a pid or \"fails\"",
                        [&](const Place& p) { return readProcessPid(p, out.pid); }) &&
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
                                         std::to_string(entry.id) + " (also at " + where->second +
                                         ")");
    }
    out.push_back(entry);
  }
  return true;
}

bool readDefaultDevice(const Place& place, std::optional<AudioObjectID>& out) {
  if (isFails(place)) {
    out.reset();
    return true;
  }
  if (!place.json().is_number()) {
    return place.expected("an audio object id (0 for none) or \"fails\"");
  }
  std::int64_t id = 0;
  if (!readWhole(place, 0, idMax, "an audio object id (0 for none)", id)) return false;
  if (id == 1) return place.expected("a device's id (0 for none); 1 is the audio system itself");
  out = static_cast<AudioObjectID>(id);
  return true;
}

bool readListFailure(const Place& place, sim::audio::ListFailure& out) {
  constexpr sim::audio::ListFailure failures[] = {sim::audio::ListFailure::none,
                                                  sim::audio::ListFailure::sizeQuery,
                                                  sim::audio::ListFailure::read};
  std::size_t index = 0;
  if (!readName(place, {"none", "sizeQuery", "read"}, index)) return false;
  out = failures[index];
  return true;
}

bool readState(const Place& place, AudioState& out) {
  const auto processes = [&](const Place& p) {
    return readIdList(p, out.processes.emplace(), readProcessObject);
  };
  const auto devices = [&](const Place& p) {
    return readIdList(p, out.devices.emplace(), readDevice);
  };
  const auto defaultDevice = [&](const Place& p) {
    return readDefaultDevice(p, out.defaultInputDevice.emplace());
  };
  const auto listFailure = [&](const Place& p) {
    return readListFailure(p, out.listFailure.emplace());
  };
  const auto extraBytes = [&](const Place& p) {
    std::int64_t bytes = 0;
    if (!readWhole(p, 0, 3, "a number of bytes", bytes)) return false;
    out.listExtraBytes = static_cast<UInt32>(bytes);
    return true;
  };
  return optionalMember(place, "processes", processes) &&
         optionalMember(place, "devices", devices) &&
         optionalMember(place, "defaultInputDevice", defaultDevice) &&
         optionalMember(place, "listFailure", listFailure) &&
         optionalMember(place, "listExtraBytes", extraBytes);
}

// Steps in increasing poll order, so a step never undoes a later one.
bool readTimeline(const Place& place, std::vector<AudioStep>& out) {
  if (!place.array()) return false;
  long previous = 0;
  for (std::size_t i = 0; i < place.json().size(); ++i) {
    const Place item = *place.item(i);
    if (!item.object({"poll", "processes", "devices", "defaultInputDevice", "listFailure",
                      "listExtraBytes", "processesAtRead"})) {
      return false;
    }
    AudioStep step;
    const auto poll = [&](const Place& p) {
      const char* what = previous == 0 ? "a poll number" : "a poll number after the step before";
      std::int64_t number = 0;
      if (!readWhole(p, previous + 1, pollMax, what, number)) return false;
      step.poll = static_cast<long>(number);
      return true;
    };
    const auto atRead = [&](const Place& p) {
      return readIdList(p, step.processesAtRead.emplace(), readProcessObject);
    };
    if (!requiredMember(item, "poll", "a poll number", poll) || !readState(item, step.state) ||
        !optionalMember(item, "processesAtRead", atRead)) {
      return false;
    }
    previous = step.poll;
    out.push_back(std::move(step));
  }
  return true;
}

}  // namespace

bool readAudio(const Place& audio, Scenario& scenario) {
  const auto timeline = [&](const Place& p) { return readTimeline(p, scenario.timeline); };
  return audio.object({"processes", "devices", "defaultInputDevice", "listFailure",
                       "listExtraBytes", "timeline"}) &&
         readState(audio, scenario.audio) && optionalMember(audio, "timeline", timeline);
}
