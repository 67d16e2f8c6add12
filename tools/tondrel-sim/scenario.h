// A simulated Mac as a scenario file describes it, read and checked in full
// before anything of it is applied.
#pragma once

#include "platform/darwin/os_version.h"
#include "sim/accessibility.h"
#include "sim/running_apps.h"
#include "sim/audio.h"
#include "sim/processes.h"

#include <optional>
#include <string>
#include <vector>

// The audio system as the monitors see it. In a timeline step every part is
// optional: what a step leaves out stays as it was.
struct AudioState {
  std::optional<std::vector<sim::audio::Process>> processes;
  std::optional<std::vector<sim::audio::Device>> devices;
  // Outer: given or not; inner: absent makes the read fail.
  std::optional<std::optional<AudioObjectID>> defaultInputDevice;
  std::optional<sim::audio::ListFailure> listFailure;
  // Bytes (0 to 3) past the list's last whole id.
  std::optional<UInt32> listExtraBytes;
};

// Changes that take effect at the start of poll number `poll` (the first poll,
// the silent one at start-up, is number 1).
struct AudioStep {
  long poll = 1;
  AudioState state;
  // The process object list changes to this between the size query and the
  // read of this poll's list (and stays so), as a list that shrinks or grows
  // while it is being read.
  std::optional<std::vector<sim::audio::Process>> processesAtRead;
};

struct Scenario {
  platform::darwin::OsVersion osVersion{14, 0, 0};
  bool responsibleFunction = true;
  std::vector<sim::processes::Process> processes;
  std::vector<sim::apps::App> applications;
  AudioState audio;
  std::vector<AudioStep> timeline;
  bool trusted = false;
  std::vector<sim::ax::Application> accessibility;
};

struct LoadedScenario {
  std::optional<Scenario> scenario;
  // When refused: one line naming the file, the place and what was expected.
  std::string refusal;
};

LoadedScenario loadScenario(const std::string& path);
