#include "agent/startup.h"

#include "agent/audio/device_input_monitor.h"
#include "agent/audio/process_input_monitor.h"
#include "agent/emit.h"
#include "agent/globals.h"
#include "agent/input.h"
#include "platform/autorelease_pool.h"
#include "platform/loop.h"
#include "platform/audio.h"
#include "platform/processes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>

namespace tondrel {

namespace {

// Standard input's descriptor.
int input = -1;
// The one strong reference to the active microphone monitor.
std::shared_ptr<void> processMonitor;
// Whether that monitor is the per-process one.
bool perProcess = false;

}  // namespace

void reserveStandardDescriptors() {
#ifdef _WIN32
  // Nothing here opens files through the C runtime's descriptors (the
  // Windows backend works with handles), so nothing can take the place of
  // standard input or output: a missing input reads as ended, and writes to
  // a missing output fail.
#else
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor, so normally this one already.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
#endif
}

int agentMain() {
  reserveStandardDescriptors();

  // outputLock is a plain mutex, ready before main runs.

  platform::processes::prepare();

  pageReads = loop::createSerialQueue(pageReadsLabel);

  input = STDIN_FILENO;
  buffered.clear();

  // From here on standard input is read on a background thread; what it posts
  // waits on the main queue until the run loop starts, so `ready` is first.
  loop::setReadabilityHandler(input, readChunk);

  processMonitor.reset();

  // The support check and the first poll run before the run loop, whose
  // callouts have pools of their own: this one releases what they
  // autorelease instead of keeping it for the life of the process.
  std::optional<platform::AutoreleasePool> startupPool(std::in_place);
  // Where the system lists the processes that capture, each is reported;
  // elsewhere all the agent can see is the default input device.
  perProcess = platform::audio::supportedMonitor() == platform::audio::Monitor::perProcess;
  if (perProcess) {
    auto monitor = std::make_shared<ProcessInputMonitor>();
    ProcessInputMonitor::start(monitor);
    processMonitor = std::move(monitor);
  } else {
    auto monitor = std::make_shared<DeviceInputMonitor>();
    DeviceInputMonitor::start(monitor);
    processMonitor = std::move(monitor);
  }
  startupPool.reset();
  emit({{"event", std::string("ready")}, {"perProcess", perProcess}});

  loop::runMain();
  return 0;
}

}  // namespace tondrel
