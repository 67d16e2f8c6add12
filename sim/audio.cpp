// The simulated audio system. Reads take no heap memory (unless tracing is
// on), so a caller's own allocations can be measured around them.
#include "sim/audio.h"

#include "platform/darwin/audio_properties.h"
#include "sim/trace.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// The selectors as the Mac's decoding spells them, so both sides agree by
// construction.
namespace property = platform::darwin::property;
constexpr AudioObjectPropertySelector processList = property::processObjectList;
constexpr AudioObjectPropertySelector processPid = property::processPid;
constexpr AudioObjectPropertySelector processRunningInput = property::processIsRunningInput;
constexpr AudioObjectPropertySelector defaultInput = property::defaultInputDevice;
constexpr AudioObjectPropertySelector deviceRunning = property::deviceIsRunningSomewhere;

// Counted per selector in fixed slots, the last for every other selector, so
// counting never allocates.
constexpr std::array<AudioObjectPropertySelector, 5> countedSelectors = {
    processList, processPid, processRunningInput, defaultInput, deviceRunning};
constexpr std::size_t slots = countedSelectors.size() + 1;

std::size_t slot(AudioObjectPropertySelector selector) {
  const auto* found = std::find(countedSelectors.begin(), countedSelectors.end(), selector);
  return static_cast<std::size_t>(found - countedSelectors.begin());
}

// What a list's bytes past the last whole id hold.
constexpr unsigned char extraByte = 0xEE;

struct World {
  std::mutex lock;
  std::vector<sim::audio::Process> processes;
  std::vector<sim::audio::Device> devices;
  std::optional<AudioObjectID> defaultInputDevice = 0u;
  sim::audio::ListFailure listFailure = sim::audio::ListFailure::none;
  UInt32 listExtraBytes = 0;
  std::shared_ptr<const sim::audio::Hook> hook;
  long polls = 0;
  std::array<long, slots> sizeQueries{};
  std::array<long, slots> reads{};
  std::array<UInt32, slots> lastReadSizes{};

  // Where each id's entry is in its list (the first, should one be listed
  // twice). A poll reads one or two properties of every listed object; were
  // each read to search the list, a poll of 160,000 objects would take
  // minutes. Kept up to date by every change to the lists.
  std::unordered_map<AudioObjectID, std::size_t> processAt;
  std::unordered_map<AudioObjectID, std::size_t> deviceAt;

  sim::audio::Process* process(AudioObjectID id) { return entry(processes, processAt, id); }
  sim::audio::Device* device(AudioObjectID id) { return entry(devices, deviceAt, id); }

  template <typename Entry>
  static Entry* entry(std::vector<Entry>& list,
                      const std::unordered_map<AudioObjectID, std::size_t>& at, AudioObjectID id) {
    const auto found = at.find(id);
    return found == at.end() ? nullptr : &list[found->second];
  }

  template <typename Entry>
  static void index(const std::vector<Entry>& list,
                    std::unordered_map<AudioObjectID, std::size_t>& at) {
    at.clear();
    at.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) at.emplace(list[i].id, i);
  }
  UInt32 listBytes() const {
    return static_cast<UInt32>(processes.size() * sizeof(AudioObjectID)) + listExtraBytes;
  }
};

World& world() {
  static auto* instance = new World;  // the agent's threads may outlive main
  return *instance;
}

void startPoll(World& w, std::unique_lock<std::mutex>& guard, const char* monitor) {
  ++w.polls;
  guard.unlock();
  if (sim::trace::active()) {
    sim::trace::record(std::string("{\"event\":\"poll\",\"monitor\":\"") + monitor + "\"}");
  }
  guard.lock();
}

void callHook(World& w, std::unique_lock<std::mutex>& guard, sim::audio::Moment moment) {
  std::shared_ptr<const sim::audio::Hook> hook = w.hook;
  if (!hook) return;
  guard.unlock();
  (*hook)(moment);
  guard.lock();
}

bool validAddress(const AudioObjectPropertyAddress* address) {
  return address->mScope == kAudioObjectPropertyScopeGlobal &&
         address->mElement == kAudioObjectPropertyElementMain;
}

// Status of a read of one 32-bit value, which it stores in `value`.
OSStatus scalar(World& w, AudioObjectID object, AudioObjectPropertySelector selector,
                UInt32& value) {
  if (object == kAudioObjectSystemObject) {
    if (selector != defaultInput) return kAudioHardwareUnknownPropertyError;
    if (!w.defaultInputDevice) return kAudioHardwareUnspecifiedError;
    value = *w.defaultInputDevice;
    return kAudioHardwareNoError;
  }
  if (selector == processPid || selector == processRunningInput) {
    const sim::audio::Process* p = w.process(object);
    if (p == nullptr) return kAudioHardwareBadObjectError;
    const std::optional<UInt32> answer =
        selector == processPid
            ? (p->pid ? std::optional<UInt32>(static_cast<UInt32>(*p->pid)) : std::nullopt)
            : p->runningInput;
    if (!answer) return kAudioHardwareUnspecifiedError;
    value = *answer;
    return kAudioHardwareNoError;
  }
  if (selector == deviceRunning) {
    const sim::audio::Device* d = w.device(object);
    if (d == nullptr) return kAudioHardwareBadObjectError;
    if (!d->runningSomewhere) return kAudioHardwareUnspecifiedError;
    value = *d->runningSomewhere;
    return kAudioHardwareNoError;
  }
  if (w.process(object) == nullptr && w.device(object) == nullptr) {
    return kAudioHardwareBadObjectError;
  }
  return kAudioHardwareUnknownPropertyError;
}

// Copies the list's value, ids then extra bytes, up to `capacity` bytes.
UInt32 copyList(const World& w, UInt32 capacity, unsigned char* out) {
  UInt32 written = 0;
  for (const auto& p : w.processes) {
    unsigned char bytes[sizeof(AudioObjectID)];
    std::memcpy(bytes, &p.id, sizeof bytes);
    for (unsigned char byte : bytes) {
      if (written == capacity) return written;
      out[written++] = byte;
    }
  }
  for (UInt32 i = 0; i < w.listExtraBytes && written < capacity; ++i) out[written++] = extraByte;
  return written;
}

}  // namespace

extern "C" OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID,
                                                   const AudioObjectPropertyAddress* inAddress,
                                                   UInt32, const void*, UInt32* outDataSize) {
  if (inAddress == nullptr || outDataSize == nullptr) return kAudioHardwareUnspecifiedError;
  World& w = world();
  std::unique_lock<std::mutex> guard(w.lock);
  const AudioObjectPropertySelector selector = inAddress->mSelector;
  ++w.sizeQueries[slot(selector)];
  if (!validAddress(inAddress)) return kAudioHardwareUnknownPropertyError;
  if (inObjectID == kAudioObjectSystemObject && selector == processList) {
    startPoll(w, guard, "process");
    callHook(w, guard, sim::audio::Moment::pollStart);
    if (w.listFailure == sim::audio::ListFailure::sizeQuery) return kAudioHardwareUnspecifiedError;
    *outDataSize = w.listBytes();
    return kAudioHardwareNoError;
  }
  UInt32 ignored = 0;
  const OSStatus status = scalar(w, inObjectID, selector, ignored);
  // A value that merely fails to read still has its size.
  if (status == kAudioHardwareBadObjectError || status == kAudioHardwareUnknownPropertyError) {
    return status;
  }
  *outDataSize = sizeof(UInt32);
  return kAudioHardwareNoError;
}

extern "C" OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID,
                                               const AudioObjectPropertyAddress* inAddress, UInt32,
                                               const void*, UInt32* ioDataSize, void* outData) {
  if (inAddress == nullptr || ioDataSize == nullptr || outData == nullptr) {
    return kAudioHardwareUnspecifiedError;
  }
  World& w = world();
  std::unique_lock<std::mutex> guard(w.lock);
  const AudioObjectPropertySelector selector = inAddress->mSelector;
  ++w.reads[slot(selector)];
  w.lastReadSizes[slot(selector)] = *ioDataSize;
  if (!validAddress(inAddress)) return kAudioHardwareUnknownPropertyError;
  if (inObjectID == kAudioObjectSystemObject && selector == processList) {
    callHook(w, guard, sim::audio::Moment::listRead);
    if (w.listFailure == sim::audio::ListFailure::read) return kAudioHardwareUnspecifiedError;
    *ioDataSize = copyList(w, *ioDataSize, static_cast<unsigned char*>(outData));
    return kAudioHardwareNoError;
  }
  if (inObjectID == kAudioObjectSystemObject && selector == defaultInput) {
    startPoll(w, guard, "device");
    callHook(w, guard, sim::audio::Moment::pollStart);
  }
  if (*ioDataSize < sizeof(UInt32)) return kAudioHardwareBadPropertySizeError;
  UInt32 value = 0;
  const OSStatus status = scalar(w, inObjectID, selector, value);
  if (status != kAudioHardwareNoError) return status;
  std::memcpy(outData, &value, sizeof value);
  *ioDataSize = sizeof value;
  return kAudioHardwareNoError;
}

namespace sim::audio {

void setProcesses(std::vector<Process> processes) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.processes = std::move(processes);
  World::index(w.processes, w.processAt);
}

void addProcess(Process process) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  if (Process* existing = w.process(process.id)) {
    *existing = process;
  } else {
    w.processAt.emplace(process.id, w.processes.size());
    w.processes.push_back(process);
  }
}

void removeProcess(AudioObjectID id) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  std::erase_if(w.processes, [id](const Process& p) { return p.id == id; });
  World::index(w.processes, w.processAt);
}

void setPid(AudioObjectID id, std::optional<pid_t> pid) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  if (Process* p = w.process(id)) p->pid = pid;
}

void setRunningInput(AudioObjectID id, std::optional<UInt32> value) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  if (Process* p = w.process(id)) p->runningInput = value;
}

std::vector<Process> processes() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.processes;
}

void setListFailure(ListFailure failure) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.listFailure = failure;
}

void setListExtraBytes(UInt32 bytes) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.listExtraBytes = std::min<UInt32>(bytes, 3);
}

void setDevice(Device device) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  if (Device* existing = w.device(device.id)) {
    *existing = device;
  } else {
    w.deviceAt.emplace(device.id, w.devices.size());
    w.devices.push_back(device);
  }
}

void removeDevice(AudioObjectID id) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  std::erase_if(w.devices, [id](const Device& d) { return d.id == id; });
  World::index(w.devices, w.deviceAt);
}

void setDefaultInputDevice(std::optional<AudioObjectID> id) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.defaultInputDevice = id;
}

void setHook(Hook hook) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.hook = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
}

long polls() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.polls;
}

long sizeQueries(AudioObjectPropertySelector selector) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.sizeQueries[slot(selector)];
}

long reads(AudioObjectPropertySelector selector) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.reads[slot(selector)];
}

UInt32 lastReadSize(AudioObjectPropertySelector selector) {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.lastReadSizes[slot(selector)];
}

void reset() {
  World& w = world();
  std::lock_guard<std::mutex> guard(w.lock);
  w.processes.clear();
  w.devices.clear();
  w.processAt.clear();
  w.deviceAt.clear();
  w.defaultInputDevice = 0u;
  w.listFailure = ListFailure::none;
  w.listExtraBytes = 0;
  w.hook.reset();
  w.polls = 0;
  w.sizeQueries.fill(0);
  w.reads.fill(0);
  w.lastReadSizes.fill(0);
}

}  // namespace sim::audio
