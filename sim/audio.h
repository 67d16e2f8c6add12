// The simulated Mac's audio system, behind the two property reads of
// <CoreAudio/AudioHardware.h>.
//
// The world: the process object list of the system object ("prs#"), each
// process object's pid ("ppid") and input state ("piri"), the default input
// device ("dIn ") and each device's running state ("gone"). Every read can be
// made to fail. Reads of other properties, or on objects that do not exist,
// fail as the platform's do.
//
// Polls and timelines. Each poll of either microphone monitor starts with one
// particular call: the per-process monitor's with the size query of the
// process object list, the device monitor's with the read of the default input
// device. At that call the simulated system counts a poll, records a trace
// entry {"event":"poll","monitor":"process"} (or "device") when tracing is
// active, and calls the hook, if one is set, before it answers. A timeline
// counted in polls is played by a hook that applies, at Moment::pollStart, what
// its script says for poll number polls(); the poll then sees the change. The
// hook is called a second time in a per-process poll, at Moment::listRead,
// between the size query and the read of the list: what it changes there makes
// the list differ between the two calls (a list that shrinks, or grows, in
// between).
//
// All functions are thread-safe. The hook runs on the thread that reads, with
// no lock of the simulated system held, so it may call every setter here; it
// must not read audio properties itself.
#pragma once

#include <CoreAudio/AudioHardware.h>

#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace sim::audio {

// A client process of the audio system, as one process object.
struct Process {
  Process() = default;
  Process(AudioObjectID objectId, std::optional<pid_t> processId,
          std::optional<UInt32> inputState = 0u)
      : id(objectId), pid(processId), runningInput(inputState) {}

  AudioObjectID id = 0;
  // "ppid"; absent: the read fails.
  std::optional<pid_t> pid;
  // "piri"; exactly 1 is running input. Absent: the read fails.
  std::optional<UInt32> runningInput = 0u;
};

struct Device {
  Device() = default;
  Device(AudioObjectID objectId, std::optional<UInt32> runningState = 0u)
      : id(objectId), runningSomewhere(runningState) {}

  AudioObjectID id = 0;
  // "gone"; exactly 1 is running somewhere. Absent: the read fails.
  std::optional<UInt32> runningSomewhere = 0u;
};

// Replaces the process object list; the order given is the order listed.
void setProcesses(std::vector<Process> processes);
// Replaces the process object with the same id where it stands in the list, or
// appends it.
void addProcess(Process process);
// Takes the process object out of the list.
void removeProcess(AudioObjectID id);
void setPid(AudioObjectID id, std::optional<pid_t> pid);
void setRunningInput(AudioObjectID id, std::optional<UInt32> value);
std::vector<Process> processes();

enum class ListFailure {
  none,
  sizeQuery,  // the size query of the list fails
  read,       // the size query answers, the read of the list fails
};
void setListFailure(ListFailure failure);
// Bytes (0 to 3) that the list's value holds past its last whole id, in both
// the size query and the read, as a value whose size is not a multiple of 4.
void setListExtraBytes(UInt32 bytes);

// Replaces the device with the same id, or adds it.
void setDevice(Device device);
void removeDevice(AudioObjectID id);
// The id that "dIn " answers: 0 is no default input device; absent makes the
// read fail. A default id with no device behind it is allowed: its "gone" read
// fails.
void setDefaultInputDevice(std::optional<AudioObjectID> id);

enum class Moment {
  pollStart,  // the list's size query or the default-device read
  listRead,   // between the list's size query and its read
};
using Hook = std::function<void(Moment moment)>;
// One hook at a time; nullptr removes it.
void setHook(Hook hook);

// Polls started so far: the number of the current poll, inside the hook.
long polls();
// Calls so far of AudioObjectGetPropertyDataSize and AudioObjectGetPropertyData
// with this selector, failing ones included. Selectors outside the model share
// one count.
long sizeQueries(AudioObjectPropertySelector selector);
long reads(AudioObjectPropertySelector selector);
// The in/out data size that the last read with this selector was given, before
// the call changed it; 0 before any such read.
UInt32 lastReadSize(AudioObjectPropertySelector selector);

// An empty system: no process objects, no devices, default input device 0, no
// failures, no extra bytes, no hook, every count 0.
void reset();

}  // namespace sim::audio
