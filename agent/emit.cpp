#include "agent/emit.h"

#include "agent/globals.h"
#include "common/descriptor_wait.h"

#include <cerrno>
#include <csignal>
#include <mutex>

#include <pthread.h>
#include <unistd.h>

namespace tondrel {

namespace {

int outputDescriptor = STDOUT_FILENO;

[[noreturn]] void dieOfBrokenPipe() {
  // The host closed our output. Let the signal take its default course, as it
  // would have if nothing had changed its disposition.
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

}  // namespace

bool writeAll(int descriptor, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = write(descriptor, data, left);
    if (written > 0) {
      data += written;
      left -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking descriptor the host left us: wait until it takes more.
      // Terminals included, which poll() cannot wait on everywhere.
      if (!waitForDescriptor(descriptor, Readiness::writable)) return false;
      continue;
    }
    if (written < 0 && errno == EPIPE) dieOfBrokenPipe();
    return false;
  }
  return true;
}

void emit(const Message& message) {
  // One buffer per writing thread, kept between calls: a line costs no
  // allocation once the longest line so far has been seen.
  thread_local std::string line;
  line.clear();
  appendJson(line, message);
  line.push_back('\n');
  {
    std::lock_guard<std::mutex> guard(outputLock);
    writeAll(outputDescriptor, line);
  }
  // A rare huge reply should not stay resident for the rest of the day.
  if (line.capacity() > 64 * 1024) std::string().swap(line);
}

void setOutputDescriptorForTesting(int descriptor) { outputDescriptor = descriptor; }

}  // namespace tondrel
