#include "agent/emit.h"

#include "agent/globals.h"
#include "common/descriptor_wait.h"

#include <cerrno>
#include <csignal>
#include <mutex>

#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace tondrel {

namespace {

int outputDescriptor = STDOUT_FILENO;

#ifdef _WIN32

// Windows has no broken-pipe signal: a write into a pipe whose reader has
// gone fails (ERROR_NO_DATA, or ERROR_PIPE_NOT_CONNECTED once it is fully
// closed). The agent ends there all the same, with the status a shell shows
// for a process the signal ended (128 + 13), so a host sees the same end.
[[noreturn]] void dieOfBrokenPipe() { _exit(141); }

bool readerHasGone(DWORD error) {
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

#else

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

#endif

}  // namespace

#ifdef _WIN32

// Straight to the handle: the C runtime's text mode would turn each LF into
// CR LF.
bool writeAll(int descriptor, std::string_view bytes) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr)) {
      if (readerHasGone(GetLastError())) dieOfBrokenPipe();
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

#else

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

#endif

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
