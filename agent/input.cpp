#include "agent/input.h"

#include <unistd.h>

#include <cerrno>

#include "agent/globals.h"
#include "platform/loop.h"
#include "agent/utf8.h"

void readChunk(int descriptor) {
  char bytes[64 * 1024];
  ssize_t count;
  do {
    count = read(descriptor, bytes, sizeof bytes);
  } while (count < 0 && errno == EINTR);
  if (count > 0) {
    loop::postMain([chunk = std::string(bytes, static_cast<std::size_t>(count))]() mutable {
      takeLines(std::move(chunk));
    });
    return;
  }
  // Woken with nothing to read on a non-blocking descriptor: wait for more.
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  // End of input. A read error leaves nothing more to read either, so it ends
  // the agent the same way rather than spinning on a dead descriptor.
  loop::postMain([] { exitAtEndOfInput(); });
  loop::setReadabilityHandler(descriptor, nullptr);
}

void takeLines(std::string chunk) {
  // `buffered` never holds a line feed between tasks, so only the new chunk
  // needs searching: a long line arriving in many chunks costs one pass.
  const std::size_t last = chunk.rfind('\n');
  if (last == std::string::npos) {
    buffered.append(chunk);
    return;
  }
  // Everything up to the chunk's last line feed is complete lines; the rest
  // becomes `buffered` before any of them is handled.
  std::string complete = std::move(buffered);
  complete.append(chunk, 0, last + 1);
  buffered.assign(chunk, last + 1);
  std::size_t start = 0;
  while (start < complete.size()) {
    const std::size_t end = complete.find('\n', start);
    const std::string line = repairedUtf8(std::string_view(complete).substr(start, end - start));
    start = end + 1;
    handle(line);
  }
}

void exitAtEndOfInput() {
  // A reply may be half way through its write on the page reader: wait for
  // it, then leave without running destructors or exit handlers, since the
  // page reader may still be working with the objects they would destroy.
  outputLock.lock();
  _exit(0);
}
