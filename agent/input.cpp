#include "agent/input.h"

#include <unistd.h>

#include <cerrno>

#include "agent/framing.h"
#include "agent/globals.h"
#include "agent/handle.h"
#include "platform/loop.h"

namespace tondrel {

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
  // The rest after the last line feed becomes `buffered` before any of the
  // complete lines is handled.
  for (const std::string& line : completeLines(buffered, chunk)) handle(line);
}

void exitAtEndOfInput() {
  // A reply may be half way through its write on the page reader: wait for
  // it, then leave without running destructors or exit handlers, since the
  // page reader may still be working with the objects they would destroy.
  outputLock.lock();
  _exit(0);
}

}  // namespace tondrel
