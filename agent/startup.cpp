#include "agent/startup.h"

#include "agent/emit.h"
#include "agent/globals.h"
#include "agent/input.h"
#include "agent/loop.h"

#include <dlfcn.h>
#include <unistd.h>

int agentMain() {
  // outputLock is a plain mutex, ready before main runs.

  // Looked up, not linked: older systems lack the function.
  responsibleForPid = reinterpret_cast<ResponsibleForPid>(
      dlsym(RTLD_DEFAULT, "responsibility_get_pid_responsible_for_pid"));

  systemObject = 1;
  pollInterval = 1.0;
  maxDepth = 30;
  maxElements = 4000;

  pageReads = loop::createSerialQueue(pageReadsLabel);

  input = STDIN_FILENO;
  buffered.clear();

  // From here on standard input is read on a background thread; what it posts
  // waits on the main queue until the run loop starts, so `ready` is first.
  loop::setReadabilityHandler(input, readChunk);

  processMonitor.reset();

  // No microphone monitor is started yet.
  const bool flag = false;
  perProcess = flag;

  emit({{"event", std::string("ready")}, {"perProcess", perProcess}});

  loop::runMain();
  return 0;
}
