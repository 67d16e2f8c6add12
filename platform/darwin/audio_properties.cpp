#include "platform/darwin/audio_properties.h"

namespace platform::darwin {

static_assert(sizeof(AudioObjectID) == 4 && sizeof(std::uint32_t) == 4);

AudioObjectPropertyAddress address(AudioObjectPropertySelector selector) {
  return AudioObjectPropertyAddress{selector, globalScope, mainElement};
}

std::optional<std::uint32_t> readUInt32(AudioObjectID object,
                                        AudioObjectPropertySelector selector) {
  const AudioObjectPropertyAddress where = address(selector);
  std::uint32_t value = 0;
  UInt32 size = sizeof value;
  if (AudioObjectGetPropertyData(object, &where, 0, nullptr, &size, &value) != 0) {
    return std::nullopt;
  }
  return value;
}

void readObjectIds(AudioObjectID object, AudioObjectPropertySelector selector,
                   std::vector<AudioObjectID>& ids) {
  ids.clear();
  const AudioObjectPropertyAddress where = address(selector);
  UInt32 reported = 0;
  if (AudioObjectGetPropertyDataSize(object, &where, 0, nullptr, &reported) != 0) return;
  // A remainder of 1 to 3 bytes holds no whole id and is left out.
  const std::size_t count = reported / sizeof(AudioObjectID);
  if (count == 0) return;
  ids.assign(count, 0);
  // The read is bounded by the whole ids that fit, not by the reported size,
  // so a size that is not a multiple of 4 cannot make it write past the list.
  UInt32 size = static_cast<UInt32>(count * sizeof(AudioObjectID));
  if (AudioObjectGetPropertyData(object, &where, 0, nullptr, &size, ids.data()) != 0) {
    ids.clear();
  }
  // A shorter answer keeps every entry: the ones past it stay 0, an id that
  // names no object.
}

std::vector<AudioObjectID> readObjectIds(AudioObjectID object,
                                         AudioObjectPropertySelector selector) {
  std::vector<AudioObjectID> ids;
  readObjectIds(object, selector, ids);
  return ids;
}

}  // namespace platform::darwin
