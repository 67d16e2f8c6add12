// Readability handlers on POSIX systems: one thread per handler waits in
// poll() on the descriptor and on a pipe that wakes it when the handler is
// removed, and calls the handler whenever the descriptor is readable.
#include "platform/loop.h"
#include "platform/threads/thread_name.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace loop {

namespace {

struct Reader {
  int descriptor = -1;
  ReadabilityHandler handler = nullptr;
  int wakePipe[2] = {-1, -1};
  std::atomic<bool> installed{true};
};

std::mutex readersLock;
std::vector<Reader*>& readers() {
  static auto* instance = new std::vector<Reader*>;
  return *instance;
}

void readLoop(Reader* reader) {
  while (reader->installed.load()) {
    pollfd fds[2] = {{reader->descriptor, POLLIN, 0}, {reader->wakePipe[0], POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (!reader->installed.load()) break;
    if (fds[0].revents != 0) reader->handler(reader->descriptor);
  }
}

}  // namespace

void setReadabilityHandler(int descriptor, ReadabilityHandler handler) {
  std::lock_guard<std::mutex> guard(readersLock);
  auto& all = readers();
  for (Reader* reader : all) {
    if (reader->descriptor == descriptor && reader->installed.load()) {
      reader->installed.store(false);
      const char byte = 0;
      if (write(reader->wakePipe[1], &byte, 1) < 0) {
        // The reader notices the flag at its next wake-up all the same.
      }
    }
  }
  if (handler == nullptr) return;
  auto* reader = new Reader;  // kept: its thread may still be finishing a call
  reader->descriptor = descriptor;
  reader->handler = handler;
  if (pipe(reader->wakePipe) != 0) {
    std::fprintf(stderr, "threaded run loop: cannot create the reader's wake-up pipe\n");
    std::abort();
  }
  all.push_back(reader);
  std::thread([reader] {
    platform::nameThisThread("tondrel-input");
    readLoop(reader);
  }).detach();
}

}  // namespace loop
