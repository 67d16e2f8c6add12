// Process-wide configuration and shared objects, set once at start-up on the
// main thread before anything that reads them can run. Only `buffered` changes
// afterwards, and only on the main thread.
#pragma once

#include "platform/loop.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <sys/types.h>

using ResponsibleForPid = pid_t (*)(pid_t);

// Held around the one write of each output line; never nested.
extern std::mutex outputLock;
// The system's responsible-process function, when this system has one.
extern ResponsibleForPid responsibleForPid;
// The audio system object.
extern std::uint32_t systemObject;
extern double pollInterval;
extern std::int64_t maxDepth;
extern std::int64_t maxElements;
// Serial queue on which page-urls requests are answered, one at a time.
extern loop::SerialQueue* pageReads;
// Standard input's descriptor.
extern int input;
// Bytes received on standard input after the last line feed.
extern std::string buffered;
// The one strong reference to the active microphone monitor.
extern std::shared_ptr<void> processMonitor;
extern bool perProcess;

extern const char* const pageReadsLabel;
