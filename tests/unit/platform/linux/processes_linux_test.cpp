// The process answers on this machine, from /proc.
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(LinuxProcesses, ParentsAsTheKernelRecordsThem) {
  platform::processes::prepare();
  EXPECT_EQ(platform::processes::parentPid(getpid()), std::optional<pid_t>(getppid()));
  // pid 1's parent is 0, as the kernel records it: the caller decides what
  // that means.
  EXPECT_EQ(platform::processes::parentPid(1), std::optional<pid_t>(0));
  // No such process, or no pid at all.
  EXPECT_EQ(platform::processes::parentPid(0x7ffffff0), std::nullopt);
  EXPECT_EQ(platform::processes::parentPid(0), std::nullopt);
  EXPECT_EQ(platform::processes::parentPid(-5), std::nullopt);
}

TEST(LinuxProcesses, AChildThatExitedHasNoParentOnceReaped) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(platform::processes::parentPid(child), std::nullopt);
}

TEST(LinuxProcesses, NoProcessIsResponsibleForAnother) {
  platform::processes::prepare();
  EXPECT_EQ(platform::processes::responsiblePid(getpid()), std::nullopt);
  EXPECT_EQ(platform::processes::responsiblePid(1), std::nullopt);
}

}  // namespace
