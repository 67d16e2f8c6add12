// Readability handlers on Windows, where a pipe cannot be waited on for
// readability: one thread per handler calls the handler over and over, and
// the handler's own read blocks until there are bytes or the input has ended.
// For the agent's reader, which reads once per call, that is the same as
// being called when the descriptor is readable.
//
// The descriptor is switched to binary mode first: in the C runtime's text
// mode a read would turn CR LF into LF and end the input at a 0x1A byte.
//
// A handler removed from another thread while its read is blocked returns
// from that read first (nothing can wake it early without failing the read);
// the agent only ever removes its reader from within the reader itself, at
// the end of input.
#include "platform/loop.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <io.h>

namespace loop {

namespace {

struct Reader {
  int descriptor = -1;
  ReadabilityHandler handler = nullptr;
  std::atomic<bool> installed{true};
};

std::mutex readersLock;
std::vector<Reader*>& readers() {
  static auto* instance = new std::vector<Reader*>;
  return *instance;
}

void readLoop(Reader* reader) {
  while (reader->installed.load()) reader->handler(reader->descriptor);
}

}  // namespace

void setReadabilityHandler(int descriptor, ReadabilityHandler handler) {
  std::lock_guard<std::mutex> guard(readersLock);
  auto& all = readers();
  for (Reader* reader : all) {
    if (reader->descriptor == descriptor) reader->installed.store(false);
  }
  if (handler == nullptr) return;
  _setmode(descriptor, _O_BINARY);
  auto* reader = new Reader;  // kept: its thread may still be finishing a call
  reader->descriptor = descriptor;
  reader->handler = handler;
  all.push_back(reader);
  std::thread(readLoop, reader).detach();
}

}  // namespace loop
