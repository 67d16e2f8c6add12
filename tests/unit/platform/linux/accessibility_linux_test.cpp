// The accessibility answers on a machine without an accessibility bus: no
// session bus and so no accessibility bus. Every question must be answered as
// the walk expects (untrusted, no windows, no children, no page, no switch)
// without ending the process, and elements must compare by what they stand
// for.
#include "platform/accessibility.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <limits>

#include <unistd.h>

namespace {

namespace ax = platform::accessibility;

class NoAccessibilityBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Nothing of the machine's own session may answer.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tondrel-test-bus", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("AT_SPI_BUS_ADDRESS");
  }
};

TEST_F(NoAccessibilityBus, IsNotTrustedAndAsksAgainEachTime) {
  EXPECT_FALSE(ax::trusted());
  EXPECT_FALSE(ax::trusted());
}

TEST_F(NoAccessibilityBus, EveryReadOfARunningProcessFailsWithoutAnAnswer) {
  const ax::ElementPtr application = ax::applicationElement(getpid(), 1.0);
  ASSERT_NE(application, nullptr);
  EXPECT_EQ(ax::windows(*application), std::nullopt);
  const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  EXPECT_TRUE(ax::children(*application, 100, later).empty());
  EXPECT_FALSE(ax::isShownPage(*application));
  EXPECT_EQ(ax::pageUrl(*application), std::nullopt);
  EXPECT_EQ(ax::readSwitch(*application, ax::Switch::manualAccessibility), std::nullopt);
  EXPECT_EQ(ax::readSwitch(*application, ax::Switch::enhancedUserInterface), std::nullopt);
}

TEST_F(NoAccessibilityBus, SwitchingFailsAndTheEnhancedSwitchIsNotOffered) {
  const ax::ElementPtr application = ax::applicationElement(getpid(), 1.0);
  EXPECT_FALSE(ax::writeSwitch(*application, ax::Switch::manualAccessibility, true));
  EXPECT_FALSE(ax::writeSwitch(*application, ax::Switch::enhancedUserInterface, true));
}

TEST_F(NoAccessibilityBus, AProcessThatIsGoneSwitchesNothing) {
  // Process ids above the kernel's limit are never in use.
  const ax::ElementPtr gone = ax::applicationElement(std::numeric_limits<pid_t>::max(), 1.0);
  EXPECT_EQ(ax::readSwitch(*gone, ax::Switch::manualAccessibility), std::nullopt);
  EXPECT_FALSE(ax::writeSwitch(*gone, ax::Switch::manualAccessibility, false));
}

TEST_F(NoAccessibilityBus, ApplicationElementsAreTheSameForTheSamePid) {
  // Any timeout is taken, however small or large.
  const ax::ElementPtr a = ax::applicationElement(getpid(), 0.0001);
  const ax::ElementPtr b = ax::applicationElement(getpid(), 1e30);
  const ax::ElementPtr other = ax::applicationElement(getpid() + 1, 1.0);
  ASSERT_TRUE(a && b && other);
  EXPECT_TRUE(ax::sameElement(*a, *b));
  EXPECT_EQ(ax::elementHash(*a), ax::elementHash(*b));
  EXPECT_FALSE(ax::sameElement(*a, *other));
}

}  // namespace
