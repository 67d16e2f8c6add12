#include "agent/input.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "agent/framing.h"
#include "agent/globals.h"
#include "agent/handle.h"
#include "platform/loop.h"

namespace tondrel {

namespace {

struct Held {
  std::mutex lock;
  std::condition_variable room;
  std::size_t chunks = 0;
  std::size_t requests = 0;
  std::size_t most = 0;

  bool roomToRead() const { return chunks + chunkSize <= chunkBudget && requests <= requestBudget; }
  void add(std::size_t& counter, std::size_t bytes) {
    std::lock_guard<std::mutex> guard(lock);
    counter += bytes;
    most = std::max(most, chunks + requests);
  }
  void remove(std::size_t& counter, std::size_t bytes) {
    std::lock_guard<std::mutex> guard(lock);
    counter -= std::min(bytes, counter);
    if (roomToRead()) room.notify_all();
  }
};

Held& held() {
  static auto* instance = new Held;  // the reader thread may outlive main
  return *instance;
}

}  // namespace

void holdRequest(std::size_t cost) { held().add(held().requests, cost); }
void releaseRequest(std::size_t cost) { held().remove(held().requests, cost); }

InputHeld inputHeld() {
  Held& h = held();
  std::lock_guard<std::mutex> guard(h.lock);
  return {h.chunks + h.requests, h.most};
}

void resetMostInputHeld() {
  Held& h = held();
  std::lock_guard<std::mutex> guard(h.lock);
  h.most = h.chunks + h.requests;
}

void readChunk(int descriptor) {
  {
    // Not reading is what makes the host wait: its writes fill the pipe and
    // block until the main thread and the page reader have caught up.
    Held& h = held();
    std::unique_lock<std::mutex> guard(h.lock);
    h.room.wait(guard, [&h] { return h.roomToRead(); });
  }
  char bytes[chunkSize];
  ssize_t count;
  do {
    count = read(descriptor, bytes, sizeof bytes);
  } while (count < 0 && errno == EINTR);
  if (count > 0) {
    const auto size = static_cast<std::size_t>(count);
    held().add(held().chunks, size);
    loop::postMain([chunk = std::string(bytes, size), size]() mutable {
      takeLines(std::move(chunk));
      held().remove(held().chunks, size);
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
