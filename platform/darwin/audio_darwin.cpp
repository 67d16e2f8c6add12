// The audio answers on the Mac: CoreAudio's process objects (one per client
// process, from macOS 14), their pids and input states, and the default input
// device, each read as the property it is and every failure turned into an
// absent answer.
#include "platform/audio.h"

#include "platform/darwin/audio_properties.h"
#include "platform/darwin/os_version.h"

namespace platform::audio {

namespace darwin = platform::darwin;

Monitor supportedMonitor() {
  // Only from macOS 14 does the audio system list one object per client
  // process; before, all there is to see is the default input device.
  return darwin::operatingSystemIsAtLeast({14, 0, 0}) ? Monitor::perProcess
                                                      : Monitor::defaultDevice;
}

// The audio system is sampled once a second.
Updates updates() { return Updates::polled; }

void captureStreams(std::vector<CaptureStream>& streams, const PidWanted& pidWanted) {
  // Kept between calls only for its storage, like the caller's vector: the
  // list is read on the main thread only.
  static std::vector<AudioObjectID> listed;
  darwin::readObjectIds(darwin::systemObject, darwin::property::processObjectList, listed);
  streams.clear();
  streams.reserve(listed.size());
  for (const AudioObjectID object : listed) {
    CaptureStream& stream = streams.emplace_back();
    stream.id = object;
    if (pidWanted(object)) {
      if (const std::optional<std::uint32_t> pid =
              darwin::readUInt32(object, darwin::property::processPid)) {
        stream.pid = static_cast<pid_t>(*pid);
      }
    }
    // Exactly 1 is running input; any other value is not.
    if (const std::optional<std::uint32_t> running =
            darwin::readUInt32(object, darwin::property::processIsRunningInput)) {
      stream.capturing = *running == 1u;
    }
  }
}

std::optional<bool> defaultInputRunning() {
  const std::optional<std::uint32_t> device =
      darwin::readUInt32(darwin::systemObject, darwin::property::defaultInputDevice);
  if (!device) return std::nullopt;
  if (*device == 0) return false;  // no default input device
  const std::optional<std::uint32_t> running =
      darwin::readUInt32(*device, darwin::property::deviceIsRunningSomewhere);
  if (!running) return std::nullopt;
  return *running == 1u;
}

}  // namespace platform::audio
