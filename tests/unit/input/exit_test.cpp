#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "agent/globals.h"
#include "agent/input.h"

using namespace tondrel;

namespace {

void saySo() {
  static const char text[] = "exit handlers ran\n";
  if (write(STDERR_FILENO, text, sizeof text - 1) < 0) {
  }
}

TEST(ExitAtEndOfInput, EndsWithStatusZeroWithoutExitHandlers) {
  EXPECT_EXIT(
      {
        std::atexit(saySo);
        exitAtEndOfInput();
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(ExitAtEndOfInput, WaitsForALineBeingWritten) {
  // A writer holds outputLock while it writes; the exit must let it finish.
  EXPECT_EXIT(
      {
        std::atomic<bool> holding{false};
        std::thread writer([&holding] {
          std::lock_guard<std::mutex> guard(outputLock);
          holding = true;
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          static const char text[] = "line finished\n";
          if (write(STDERR_FILENO, text, sizeof text - 1) < 0) {
          }
        });
        while (!holding) std::this_thread::yield();
        exitAtEndOfInput();
      },
      testing::ExitedWithCode(0), "line finished");
}

}  // namespace
