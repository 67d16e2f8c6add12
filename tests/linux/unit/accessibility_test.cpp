// The Linux Accessibility calls where the desktop offers no accessibility:
// no session bus and so no accessibility bus. Every call must answer as the
// callers expect (untrusted, failed reads, no value) without ending the
// process, and every element handed out must be released in full.
#include <ApplicationServices/ApplicationServices.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <unistd.h>

#include "platform/linux/accessibility.h"

namespace {

namespace cf = platform::accessibility::cf;

CFStringRef name(const char* text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

class NoAccessibilityBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Nothing of the machine's own session may answer.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tondrel-test-bus", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("AT_SPI_BUS_ADDRESS");
  }
  void SetUp() override { before_ = cf::liveObjects(); }
  void TearDown() override {
    EXPECT_EQ(cf::liveObjects(), before_) << cf::describeLiveObjects();
  }

 private:
  long before_ = 0;
};

TEST_F(NoAccessibilityBus, IsNotTrustedAndAsksAgainEachTime) {
  EXPECT_FALSE(AXIsProcessTrusted());
  EXPECT_FALSE(AXIsProcessTrusted());
}

TEST_F(NoAccessibilityBus, EveryReadOfARunningProcessFailsWithoutAValue) {
  AXUIElementRef application = AXUIElementCreateApplication(getpid());
  ASSERT_NE(application, nullptr);
  EXPECT_EQ(CFGetTypeID(application), AXUIElementGetTypeID());
  EXPECT_EQ(AXUIElementSetMessagingTimeout(application, 1.0f), kAXErrorSuccess);
  for (const char* attribute : {"AXWindows", "AXChildren", "AXRole", "AXURL",
                                "AXManualAccessibility", "AXEnhancedUserInterface", "AXTitle"}) {
    CFStringRef attributeName = name(attribute);
    CFTypeRef value = nullptr;
    EXPECT_NE(AXUIElementCopyAttributeValue(application, attributeName, &value), kAXErrorSuccess)
        << attribute;
    EXPECT_EQ(value, nullptr) << attribute;
    CFRelease(attributeName);
  }
  CFRelease(application);
}

TEST_F(NoAccessibilityBus, SwitchingFailsAndOnlyBooleansAreTaken) {
  AXUIElementRef application = AXUIElementCreateApplication(getpid());
  CFStringRef manual = name("AXManualAccessibility");
  CFStringRef enhanced = name("AXEnhancedUserInterface");
  EXPECT_EQ(AXUIElementSetAttributeValue(application, manual, kCFBooleanTrue),
            kAXErrorCannotComplete);
  EXPECT_EQ(AXUIElementSetAttributeValue(application, manual, manual), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementSetAttributeValue(application, enhanced, kCFBooleanTrue),
            kAXErrorAttributeUnsupported);
  CFRelease(enhanced);
  CFRelease(manual);
  CFRelease(application);
}

TEST_F(NoAccessibilityBus, AProcessThatIsGoneSwitchesNothing) {
  // Process ids above the kernel's limit are never in use.
  AXUIElementRef gone = AXUIElementCreateApplication(std::numeric_limits<pid_t>::max());
  CFStringRef manual = name("AXManualAccessibility");
  CFTypeRef value = nullptr;
  EXPECT_EQ(AXUIElementCopyAttributeValue(gone, manual, &value), kAXErrorCannotComplete);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(AXUIElementSetAttributeValue(gone, manual, kCFBooleanFalse), kAXErrorCannotComplete);
  CFRelease(manual);
  CFRelease(gone);
}

TEST_F(NoAccessibilityBus, BadArgumentsAreRefused) {
  AXUIElementRef application = AXUIElementCreateApplication(getpid());
  CFStringRef role = name("AXRole");
  CFTypeRef value = nullptr;
  // Something that is not an element, and no place for the value.
  EXPECT_EQ(AXUIElementCopyAttributeValue(reinterpret_cast<AXUIElementRef>(role), role, &value),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyAttributeValue(nullptr, role, &value), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyAttributeValue(application, role, nullptr), kAXErrorIllegalArgument);
  EXPECT_EQ(value, nullptr);
  // Timeouts: none below zero or not a number; zero is the default again.
  EXPECT_EQ(AXUIElementSetMessagingTimeout(application, -1.0f), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(application, std::nanf("")), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(application, 0.0f), kAXErrorSuccess);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(application, 1e30f), kAXErrorSuccess);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(nullptr, 1.0f), kAXErrorIllegalArgument);
  CFRelease(role);
  CFRelease(application);
}

}  // namespace
