// The reader thread on Windows: bytes arrive exactly as written, whatever
// mode the descriptor was in (CR LF and 0x1A included), and the end of the
// input reaches the handler as a read of nothing.
#include "platform/loop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>

namespace {

std::mutex lock;
std::condition_variable changed;
std::string received;
bool ended = false;
int calls = 0;

void collect(int descriptor) {
  char bytes[3];  // small, so that one input takes many calls
  const int count = _read(descriptor, bytes, sizeof bytes);
  std::lock_guard<std::mutex> guard(lock);
  ++calls;
  if (count > 0) {
    received.append(bytes, static_cast<std::size_t>(count));
  } else {
    ended = true;
    loop::setReadabilityHandler(descriptor, nullptr);
  }
  changed.notify_all();
}

TEST(WindowsReadability, BytesArriveUnchangedUntilTheInputEnds) {
  int ends[2] = {-1, -1};
  // Text mode, as the C runtime opens standard input.
  ASSERT_EQ(_pipe(ends, 4096, _O_TEXT), 0);
  const std::string sent = std::string("{\"a\":1}\r\n\x1a{\"b\":2}\n\r\x1a\0end", 22);
  ASSERT_EQ(_setmode(ends[1], _O_BINARY) != -1, true);
  ASSERT_EQ(_write(ends[1], sent.data(), static_cast<unsigned>(sent.size())),
            static_cast<int>(sent.size()));

  loop::setReadabilityHandler(ends[0], collect);
  _close(ends[1]);
  std::unique_lock<std::mutex> guard(lock);
  ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [] { return ended; }));
  EXPECT_EQ(received, sent);
  EXPECT_GT(calls, 2);
  const int callsAtEnd = calls;
  guard.unlock();
  // Removed at the end, the handler is not called again.
  Sleep(100);
  guard.lock();
  EXPECT_EQ(calls, callsAtEnd);
  _close(ends[0]);
}

}  // namespace
