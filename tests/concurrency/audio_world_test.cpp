// The simulated audio system is changed by one thread (a scenario player on a
// real clock) while the agent's main thread polls it.
#include "platform/darwin/audio_properties.h"
#include "agent/globals.h"
#include "sim/audio.h"
#include "support/sim_world.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tondrel;
using namespace platform::darwin;

namespace {

class AudioWorld : public SimWorld {};

TEST_F(AudioWorld, ReadsStayWholeWhileAnotherThreadChangesTheWorld) {
  std::atomic<bool> stop{false};
  std::thread player([&stop] {
    for (UInt32 round = 0; !stop.load(); ++round) {
      sim::audio::setProcesses(
          {sim::audio::Process{10, 500, round % 2}, sim::audio::Process{11, 501, 1u}});
      if (round % 3 == 0) sim::audio::removeProcess(11);
      sim::audio::setDevice(sim::audio::Device{40, round % 2});
      sim::audio::setDefaultInputDevice(round % 5 == 0 ? 0u : 40u);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    const std::vector<AudioObjectID> ids = readObjectIds(systemObject, property::processObjectList);
    for (const AudioObjectID id : ids) {
      // A trailing 0 is the one id besides the two that a change mid-read can give.
      EXPECT_TRUE(id == 10 || id == 11 || id == 0) << id;
      readUInt32(id, property::processIsRunningInput);
    }
    if (const auto device = readUInt32(systemObject, property::defaultInputDevice)) {
      readUInt32(*device, property::deviceIsRunningSomewhere);
    }
  }
  stop.store(true);
  player.join();
  EXPECT_EQ(sim::audio::sizeQueries(property::processObjectList), 2000);
}

}  // namespace
