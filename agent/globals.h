// Process-wide settings and shared objects. The variables are set once at
// start-up on the main thread before anything that reads them can run; only
// `buffered` changes afterwards, and only on the main thread.
#pragma once

#include "platform/loop.h"

#include <cstdint>
#include <mutex>
#include <string>

#include <sys/types.h>

namespace tondrel {

using ResponsibleForPid = pid_t (*)(pid_t);

// Held around the one write of each output line; never nested.
extern std::mutex outputLock;
// The system's responsible-process function, when this system has one.
extern ResponsibleForPid responsibleForPid;
// The audio system object.
inline constexpr std::uint32_t systemObject = 1;
// Seconds between two polls of the microphone monitor.
inline constexpr double pollInterval = 1.0;
// The bounds of one walk of an application's windows: levels below the
// application element, and elements taken.
inline constexpr std::int64_t maxDepth = 30;
inline constexpr std::int64_t maxElements = 4000;
// Serial queue on which page-urls requests are answered, one at a time.
extern loop::SerialQueue* pageReads;
// Bytes received on standard input after the last line feed.
extern std::string buffered;

extern const char* const pageReadsLabel;

}  // namespace tondrel
