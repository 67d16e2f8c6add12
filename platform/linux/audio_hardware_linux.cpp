// The audio hardware property reads, answered from PipeWire's graph.
#include <CoreAudio/AudioHardware.h>

#include "platform/linux/pipewire_connection.h"

namespace {

bool supportedAddress(const AudioObjectPropertyAddress* address) {
  return address->mScope == kAudioObjectPropertyScopeGlobal &&
         address->mElement == kAudioObjectPropertyElementMain;
}

}  // namespace

extern "C" OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID,
                                                   const AudioObjectPropertyAddress* inAddress,
                                                   UInt32 /*inQualifierDataSize*/,
                                                   const void* /*inQualifierData*/,
                                                   UInt32* outDataSize) {
  if (inAddress == nullptr || outDataSize == nullptr) return kAudioHardwareUnspecifiedError;
  if (!supportedAddress(inAddress)) return kAudioHardwareUnknownPropertyError;
  const pwaudio::Access access;
  return pwaudio::readPropertySize(access.view(), inObjectID, inAddress->mSelector, outDataSize);
}

extern "C" OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID,
                                               const AudioObjectPropertyAddress* inAddress,
                                               UInt32 /*inQualifierDataSize*/,
                                               const void* /*inQualifierData*/, UInt32* ioDataSize,
                                               void* outData) {
  if (inAddress == nullptr || ioDataSize == nullptr || outData == nullptr) {
    return kAudioHardwareUnspecifiedError;
  }
  if (!supportedAddress(inAddress)) return kAudioHardwareUnknownPropertyError;
  const pwaudio::Access access;
  return pwaudio::readProperty(access.view(), inObjectID, inAddress->mSelector, ioDataSize, outData);
}
