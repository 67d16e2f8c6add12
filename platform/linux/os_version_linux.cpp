#include "platform/os_version.h"

namespace platform {

// Every Linux desktop the agent supports lists its audio clients one by one
// (PipeWire's capture streams), which is what the newest systems of the other
// platform offer: the agent should always take the per-process monitor.
bool operatingSystemIsAtLeast(OsVersion /*version*/) { return true; }

}  // namespace platform
