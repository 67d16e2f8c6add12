// Stand-in for CoreAudio's hardware object model on builds without it.
//
// Declares the two property reads the agent makes, with the platform's names,
// types and calling conventions. The backend defines them (the simulated Mac:
// sim/audio.cpp).
//
// Only what the oldest supported SDK declares is here: the process-object
// properties are missing from it, so the agent spells them as four-character
// codes, and a build against this header must not be able to lean on names the
// real one lacks.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 AudioObjectID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;

typedef struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
} AudioObjectPropertyAddress;

// Four-character codes, first character in the most significant byte.
enum {
  kAudioObjectUnknown = 0,
  kAudioObjectSystemObject = 1,
  kAudioObjectPropertyScopeGlobal = 0x676c6f62,  // 'glob'
  kAudioObjectPropertyElementMain = 0,
  kAudioHardwarePropertyDefaultInputDevice = 0x64496e20,      // 'dIn '
  kAudioDevicePropertyDeviceIsRunningSomewhere = 0x676f6e65,  // 'gone'
};

enum {
  kAudioHardwareNoError = 0,
  kAudioHardwareUnspecifiedError = 0x77686174,      // 'what'
  kAudioHardwareUnknownPropertyError = 0x77686f3f,  // 'who?'
  kAudioHardwareBadPropertySizeError = 0x2173697a,  // '!siz'
  kAudioHardwareBadObjectError = 0x216f626a,        // '!obj'
};

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID,
                                        const AudioObjectPropertyAddress* inAddress,
                                        UInt32 inQualifierDataSize, const void* inQualifierData,
                                        UInt32* outDataSize);

OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID,
                                    const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData,
                                    UInt32* ioDataSize, void* outData);

#ifdef __cplusplus
}
#endif
