// Reads of CoreAudio properties: always in the global scope on the main
// element, and every failure turned into no value here, so no audio status code
// travels further than the Mac's audio answers (audio_darwin.cpp).
#pragma once

#include <CoreAudio/AudioHardware.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace platform::darwin {

// The selector spelled as its four characters, first character in the most
// significant byte.
constexpr AudioObjectPropertySelector fourCharCode(const char (&code)[5]) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// Spelled out rather than taken from the SDK: the process-object properties
// exist only from macOS 14, and the oldest SDK we build with does not name them.
namespace property {
// On the system object: the list of process objects, one per client process.
inline constexpr AudioObjectPropertySelector processObjectList = fourCharCode("prs#");
// On a process object: its pid.
inline constexpr AudioObjectPropertySelector processPid = fourCharCode("ppid");
// On a process object: exactly 1 while the process runs audio input.
inline constexpr AudioObjectPropertySelector processIsRunningInput = fourCharCode("piri");
// On the system object: the default input device, 0 when there is none.
inline constexpr AudioObjectPropertySelector defaultInputDevice = fourCharCode("dIn ");
// On a device: exactly 1 while any process runs it.
inline constexpr AudioObjectPropertySelector deviceIsRunningSomewhere = fourCharCode("gone");
}  // namespace property

// The audio system itself.
inline constexpr AudioObjectID systemObject = 1;

inline constexpr AudioObjectPropertyScope globalScope = fourCharCode("glob");
inline constexpr AudioObjectPropertyElement mainElement = 0;

// {selector, global scope, main element}.
AudioObjectPropertyAddress address(AudioObjectPropertySelector selector);

// One 32-bit value of the object's property; absent when the read fails.
std::optional<std::uint32_t> readUInt32(AudioObjectID object, AudioObjectPropertySelector selector);

// The object's list of object ids; empty when either call fails. When the list
// shrinks between the size query and the read, the entries past what came back
// are 0.
std::vector<AudioObjectID> readObjectIds(AudioObjectID object,
                                         AudioObjectPropertySelector selector);
// The same into `ids`, whose storage is reused, so a caller that reads every
// second allocates only when the list outgrows it.
void readObjectIds(AudioObjectID object, AudioObjectPropertySelector selector,
                   std::vector<AudioObjectID>& ids);

}  // namespace platform::darwin
