// The Linux backend's answers to the agent's platform calls, on this machine
// and without PipeWire: the process table, the missing responsible-process
// function, the monitor choice, running applications, and the audio reads.
#include <CoreAudio/AudioHardware.h>
#include <dlfcn.h>
#include <sys/sysctl.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os_version.h"
#include "platform/running_apps.h"

namespace {

pid_t parentBySysctl(pid_t pid, std::size_t* length) {
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  kinfo_proc record;
  std::memset(&record, 0xff, sizeof record);
  *length = sizeof record;
  EXPECT_EQ(sysctl(name, 4, &record, length, nullptr, 0), 0);
  return record.kp_eproc.e_ppid;
}

TEST(LinuxBackend, ProcessTableRecordsTheParent) {
  std::size_t length = 0;
  EXPECT_EQ(parentBySysctl(getpid(), &length), getppid());
  EXPECT_EQ(length, sizeof(kinfo_proc));
  // pid 1's parent is 0, as the kernel records it.
  EXPECT_EQ(parentBySysctl(1, &length), 0);
  // No such process: success with nothing written.
  parentBySysctl(0x7ffffff0, &length);
  EXPECT_EQ(length, 0U);

  // Anything but the one query the agent makes is refused.
  int other[4] = {CTL_KERN, 99, KERN_PROC_PID, getpid()};
  kinfo_proc record{};
  std::size_t size = sizeof record;
  EXPECT_NE(sysctl(other, 4, &record, &size, nullptr, 0), 0);
  int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, getpid()};
  size = sizeof record - 1;
  EXPECT_NE(sysctl(name, 4, &record, &size, nullptr, 0), 0);
}

TEST(LinuxBackend, NoResponsibleProcessFunctionButOtherSymbols) {
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "responsibility_get_pid_responsible_for_pid"), nullptr);
  EXPECT_NE(dlsym(RTLD_DEFAULT, "getpid"), nullptr);
}

TEST(LinuxBackend, AlwaysThePerProcessMonitor) {
  EXPECT_TRUE(platform::operatingSystemIsAtLeast({14, 0, 0}));
  EXPECT_TRUE(platform::operatingSystemIsAtLeast({99, 0, 0}));
}

TEST(LinuxBackend, ThisTestIsNoApplicationUnlessItsScopeSaysSo) {
  // Without a launch variable or a desktop entry for the test binary, only a
  // desktop's application scope could make it one.
  if (std::getenv("GIO_LAUNCHED_DESKTOP_FILE") != nullptr) GTEST_SKIP() << "launched as an application";
  const auto app = platform::runningApplication(getpid());
  if (app) {
    EXPECT_EQ(app->activationPolicy, platform::activationPolicyRegular);
    ASSERT_TRUE(app->bundleIdentifier);
    EXPECT_FALSE(app->bundleIdentifier->empty());
  }
  EXPECT_TRUE(platform::runningApplicationPids("org.example.NoSuchApplication").empty());
  EXPECT_TRUE(platform::runningApplicationPids("").empty());
}

TEST(LinuxBackend, WithoutPipeWireEveryAudioReadFails) {
  // A runtime folder where no PipeWire listens.
  std::string folder =
      (std::filesystem::temp_directory_path() / "tondrel-nopw-XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  unsetenv("PIPEWIRE_REMOTE");
  unsetenv("PIPEWIRE_RUNTIME_DIR");

  const AudioObjectPropertyAddress list{0x70727323, kAudioObjectPropertyScopeGlobal, 0};
  const AudioObjectPropertyAddress input{kAudioHardwarePropertyDefaultInputDevice,
                                         kAudioObjectPropertyScopeGlobal, 0};
  for (int attempt = 0; attempt < 2; ++attempt) {
    UInt32 size = 0;
    EXPECT_NE(AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &list, 0, nullptr, &size), 0);
    std::uint32_t value = 0;
    size = sizeof value;
    EXPECT_NE(AudioObjectGetPropertyData(kAudioObjectSystemObject, &input, 0, nullptr, &size, &value), 0);
  }
  // Bad arguments fail without touching anything.
  UInt32 size = 4;
  EXPECT_NE(AudioObjectGetPropertyData(kAudioObjectSystemObject, nullptr, 0, nullptr, &size, &size), 0);
  const AudioObjectPropertyAddress otherScope{0x70727323, 0x696e7074, 0};
  EXPECT_NE(AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &otherScope, 0, nullptr, &size), 0);
  rmdir(folder.c_str());
}

}  // namespace
