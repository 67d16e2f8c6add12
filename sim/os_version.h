// The simulated Mac's operating-system version.
#pragma once

#include "platform/darwin/os_version.h"

namespace sim::os {

// The version the simulated system reports. Before any call, and after
// reset(), it is 14.0.0: a system on which the audio system lists one object
// per client process.
void setVersion(platform::darwin::OsVersion version);
platform::darwin::OsVersion version();
void reset();

// How often the agent asked, for tests that count platform calls.
long checks();

}  // namespace sim::os
