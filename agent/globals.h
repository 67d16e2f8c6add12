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

// Held around the one write of each output line; never nested.
extern std::mutex outputLock;
// Seconds between two polls of the microphone monitor.
inline constexpr double pollInterval = 1.0;
// The bounds of one walk of an application's windows: levels below the
// application element, and elements taken.
inline constexpr std::int64_t maxDepth = 30;
inline constexpr std::int64_t maxElements = 4000;
// The bounds of one page-urls request, whatever the applications do: the
// children fetched from the platform over all its walks, and the time after
// which no further call to an application is started (what was found by
// then is the answer). A healthy browser's walk visits a few hundred
// elements in well under half a second, and a request of one application
// takes at most four walks and 1.2 seconds of waits, so neither bound cuts
// a healthy answer.
inline constexpr std::int64_t maxChildrenPerRequest = 4 * maxElements;
inline constexpr double pageRequestSeconds = 5.0;
// Serial queue on which page-urls requests are answered, one at a time.
extern loop::SerialQueue* pageReads;
// Bytes received on standard input after the last line feed.
extern std::string buffered;

extern const char* const pageReadsLabel;

}  // namespace tondrel
