// The running applications on this machine, by desktop application id.
#include "platform/applications.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

namespace {

TEST(LinuxApplications, ThisTestIsNoApplicationUnlessItsScopeSaysSo) {
  // Without a launch variable or a desktop entry for the test binary, only a
  // desktop's application scope could make it one.
  if (std::getenv("GIO_LAUNCHED_DESKTOP_FILE") != nullptr)
    GTEST_SKIP() << "launched as an application";
  const auto app = platform::runningApplication(getpid());
  if (app) {
    EXPECT_EQ(app->activationPolicy, platform::activationPolicyRegular);
    ASSERT_TRUE(app->bundleIdentifier);
    EXPECT_FALSE(app->bundleIdentifier->empty());
  }
  EXPECT_TRUE(platform::runningApplicationPids("org.example.NoSuchApplication").empty());
  EXPECT_TRUE(platform::runningApplicationPids("").empty());
}

}  // namespace
