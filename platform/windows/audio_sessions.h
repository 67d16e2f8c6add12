// What the tests of the Windows audio backend reach: the device enumerator
// the capture questions go through, replaced by one of their own (fakes of
// the endpoint and session interfaces, since Wine cannot list other
// processes' sessions).
#pragma once

#include <mmdeviceapi.h>

namespace platform::windows {

// From now on the audio questions use `enumerator` (a reference is kept);
// nullptr returns to the system's. Forgets the stream ids given so far.
void setDeviceEnumeratorForTesting(IMMDeviceEnumerator* enumerator);

}  // namespace platform::windows
