#include "world.h"

#include "sim/os_version.h"

#include <memory>
#include <set>

namespace {

// The devices the simulated system holds now, so that a step that gives a new
// device list can take away the ones it leaves out.
struct AudioPlayer {
  std::vector<AudioStep> timeline;
  std::size_t next = 0;
  std::set<AudioObjectID> devices;

  void apply(const AudioState& state) {
    if (state.processes) sim::audio::setProcesses(*state.processes);
    if (state.devices) {
      for (const AudioObjectID id : devices) sim::audio::removeDevice(id);
      devices.clear();
      for (const sim::audio::Device& device : *state.devices) {
        sim::audio::setDevice(device);
        devices.insert(device.id);
      }
    }
    if (state.defaultInputDevice) sim::audio::setDefaultInputDevice(*state.defaultInputDevice);
    if (state.listFailure) sim::audio::setListFailure(*state.listFailure);
    if (state.listExtraBytes) sim::audio::setListExtraBytes(*state.listExtraBytes);
  }

  // Called at the start of every poll, on the main thread; applies the step
  // for this poll before the poll reads anything.
  void pollStarts() {
    const long poll = sim::audio::polls();
    // A replacement meant for the read of a list that was never read (its
    // size query failed or found nothing) still takes its place, and stays.
    if (atRead) {
      sim::audio::setProcesses(*atRead);
      atRead.reset();
    }
    while (next < timeline.size() && timeline[next].poll <= poll) {
      apply(timeline[next].state);
      if (timeline[next].processesAtRead) atRead = timeline[next].processesAtRead;
      ++next;
    }
  }

  // Between the size query and the read of the list, in the same poll.
  void listRead() {
    if (!atRead) return;
    sim::audio::setProcesses(*atRead);
    atRead.reset();
  }

  std::optional<std::vector<sim::audio::Process>> atRead;
};

}  // namespace

void buildWorld(Scenario scenario) {
  sim::os::setVersion(scenario.osVersion);

  sim::processes::reset();
  sim::processes::setResponsibleFunctionPresent(scenario.responsibleFunction);
  sim::processes::set(std::move(scenario.processes));

  sim::apps::set(std::move(scenario.applications));

  sim::audio::reset();
  auto player = std::make_shared<AudioPlayer>();
  player->apply(scenario.audio);
  player->timeline = std::move(scenario.timeline);
  if (!player->timeline.empty()) {
    sim::audio::setHook([player](sim::audio::Moment moment) {
      if (moment == sim::audio::Moment::pollStart) {
        player->pollStarts();
      } else {
        player->listRead();
      }
    });
  }

  sim::ax::reset();
  sim::ax::setTrusted(scenario.trusted);
  for (sim::ax::Application& application : scenario.accessibility) {
    sim::ax::setApplication(std::move(application));
  }
}
