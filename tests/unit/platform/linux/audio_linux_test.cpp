// The audio answers on this machine without PipeWire: the per-process monitor
// is chosen, and nothing can be read.
#include "platform/audio.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(LinuxAudio, AlwaysThePerProcessMonitor) {
  EXPECT_EQ(platform::audio::supportedMonitor(), platform::audio::Monitor::perProcess);
}

TEST(LinuxAudio, WithoutPipeWireNothingCanBeRead) {
  // A runtime folder where no PipeWire listens.
  std::string folder = (std::filesystem::temp_directory_path() / "tondrel-nopw-XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  unsetenv("PIPEWIRE_REMOTE");
  unsetenv("PIPEWIRE_RUNTIME_DIR");

  long pidsAsked = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // What the caller had is replaced by the empty list.
    std::vector<platform::audio::CaptureStream> streams(2);
    platform::audio::captureStreams(streams, [&pidsAsked](platform::audio::StreamId) {
      ++pidsAsked;
      return true;
    });
    EXPECT_TRUE(streams.empty());
    EXPECT_EQ(platform::audio::defaultInputRunning(), std::nullopt);
  }
  EXPECT_EQ(pidsAsked, 0);
  rmdir(folder.c_str());
}

}  // namespace
