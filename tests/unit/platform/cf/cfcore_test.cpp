#include "platform/darwin/cf_ref.h"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_string.h"
#include "platform/cf/cf_url.h"
#include "platform/cf/cfcore.h"
#include "support/live_objects.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CfCore, CountsObjectsUntilTheLastRelease) {
  const long before = cfcore::liveObjects();
  CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "hello", kCFStringEncodingUTF8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(cfcore::liveObjects(), before + 1);
  CFRetain(s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  EXPECT_EQ(cfcore::liveObjects(), before + 1);
  CFRelease(s);
  EXPECT_EQ(cfcore::liveObjects(), before);
}

TEST(CfCore, ArraysAndUrlsOwnWhatTheyHold) {
  LiveObjectsUnchanged check;
  CFStringRef text =
      CFStringCreateWithCString(nullptr, "https://a.example/x", kCFStringEncodingUTF8);
  CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
  ASSERT_NE(url, nullptr);
  CFRelease(text);  // the URL keeps its own reference
  CFTypeRef items[] = {url, kCFBooleanTrue};
  CFArrayRef array = CFArrayCreate(nullptr, items, 2, &kCFTypeArrayCallBacks);
  CFRelease(url);  // the array keeps its own reference
  ASSERT_EQ(CFArrayGetCount(array), 2);
  auto held = static_cast<CFURLRef>(CFArrayGetValueAtIndex(array, 0));
  EXPECT_EQ(cfcore::stringValue(CFURLGetString(held)), "https://a.example/x");
  EXPECT_EQ(CFGetTypeID(CFArrayGetValueAtIndex(array, 1)), CFBooleanGetTypeID());
  CFRelease(array);
}

TEST(CfCore, ConstantsAreImmortal) {
  LiveObjectsUnchanged check;
  CFRelease(kCFBooleanTrue);
  CFRelease(CFSTR("AXRole"));
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_EQ(CFSTR("AXRole"), CFSTR("AXRole"));
  EXPECT_EQ(cfcore::stringValue(CFSTR("AXRole")), "AXRole");
}

TEST(CfCore, StringsMeasureAndCopyLikeThePlatform) {
  LiveObjectsUnchanged check;
  CFRef<CFStringRef> s = adoptCF(
      CFStringCreateWithCString(nullptr, "a\xC3\xA9\xF0\x9F\x8E\xA4", kCFStringEncodingUTF8));
  EXPECT_EQ(CFStringGetLength(s.get()), 4);  // UTF-16 units: a, é, surrogate pair
  char small[4];
  EXPECT_FALSE(CFStringGetCString(s.get(), small, sizeof small, kCFStringEncodingUTF8));
  char big[16];
  ASSERT_TRUE(CFStringGetCString(s.get(), big, sizeof big, kCFStringEncodingUTF8));
  EXPECT_STREQ(big, "a\xC3\xA9\xF0\x9F\x8E\xA4");
  EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xFF", kCFStringEncodingUTF8), nullptr);
  UInt8 bytes[16];
  CFIndex used = 0;
  EXPECT_EQ(CFStringGetBytes(s.get(), CFRangeMake(1, 3), kCFStringEncodingUTF8, 0, false, bytes,
                             sizeof bytes, &used),
            3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(used)),
            "\xC3\xA9\xF0\x9F\x8E\xA4");
}

TEST(CfCore, NumbersConvertOnlyWhenExact) {
  LiveObjectsUnchanged check;
  CFRef<CFNumberRef> one = adoptCF(cfcore::makeInt(1));
  CFRef<CFNumberRef> half = adoptCF(cfcore::makeDouble(0.5));
  CFRef<CFNumberRef> big = adoptCF(cfcore::makeInt(INT64_C(1) << 40));
  int value = 0;
  EXPECT_TRUE(CFNumberGetValue(one.get(), kCFNumberIntType, &value));
  EXPECT_EQ(value, 1);
  EXPECT_FALSE(CFNumberGetValue(half.get(), kCFNumberIntType, &value));
  EXPECT_FALSE(CFNumberGetValue(big.get(), kCFNumberSInt32Type, &value));
  double d = 0;
  EXPECT_TRUE(CFNumberGetValue(half.get(), kCFNumberDoubleType, &d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(CFNumberIsFloatType(half.get()));
  EXPECT_EQ(CFNumberGetType(one.get()), kCFNumberSInt64Type);
}

TEST(CfCore, HolderReleasesExactlyOnce) {
  LiveObjectsUnchanged check;
  CFStringRef raw = cfcore::makeString("x");
  {
    auto adopted = adoptCF(raw);
    auto retained = retainCF(raw);
    EXPECT_EQ(CFGetRetainCount(raw), 2);
    auto moved = std::move(retained);
    EXPECT_FALSE(retained);  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(CFGetRetainCount(raw), 2);
  }
  CFRef<CFTypeRef> out;
  *out.slot() = cfcore::makeInt(3);
  EXPECT_EQ(CFGetTypeID(out.get()), CFNumberGetTypeID());
}

TEST(CfCore, EqualityIsByValueWithinAKind) {
  LiveObjectsUnchanged check;
  auto str = [](const char* text) { return adoptCF(cfcore::makeString(text)); };
  auto url = [](const char* text) { return adoptCF(cfcore::makeUrl(text)); };
  auto array = [](std::vector<CFTypeRef> items) { return adoptCF(cfcore::makeArray(items)); };
  const auto a = str("https://a/");
  const auto sameAsA = str("https://a/");
  const auto b = str("https://b/");
  const auto role = str("AXRole");
  const auto one = adoptCF(cfcore::makeInt(1));
  const auto oneAgain = adoptCF(cfcore::makeInt(1));
  const auto onePointZero = adoptCF(cfcore::makeDouble(1.0));
  const auto onePointFive = adoptCF(cfcore::makeDouble(1.5));
  const auto urlA = url("https://a/");
  const auto urlAAgain = url("https://a/");
  const auto urlB = url("https://b/");
  const auto listA = array({a.get(), one.get()});
  const auto listAAgain = array({sameAsA.get(), onePointZero.get()});
  const auto listB = array({a.get(), onePointFive.get()});
  const auto shorter = array({a.get()});
  struct Case {
    const char* what;
    CFTypeRef x;
    CFTypeRef y;
    bool equal;
  };
  const Case cases[] = {
      {"an object and itself", a.get(), a.get(), true},
      {"strings with the same text", a.get(), sameAsA.get(), true},
      {"strings with other text", a.get(), b.get(), false},
      {"a string and its constant", role.get(), CFSTR("AXRole"), true},
      {"equal integers", one.get(), oneAgain.get(), true},
      {"an integer and the same float", one.get(), onePointZero.get(), true},
      {"an integer and another float", one.get(), onePointFive.get(), false},
      {"URLs of the same text", urlA.get(), urlAAgain.get(), true},
      {"URLs of other text", urlA.get(), urlB.get(), false},
      {"a URL and its string", urlA.get(), a.get(), false},
      {"arrays of equal items", listA.get(), listAAgain.get(), true},
      {"arrays differing in one item", listA.get(), listB.get(), false},
      {"arrays of other lengths", listA.get(), shorter.get(), false},
      {"true and false", kCFBooleanTrue, kCFBooleanFalse, false},
      {"a boolean and the integer 1", kCFBooleanTrue, one.get(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<bool>(CFEqual(c.x, c.y)), c.equal) << c.what;
    EXPECT_EQ(static_cast<bool>(CFEqual(c.y, c.x)), c.equal) << c.what << ", swapped";
  }
}

using CfCoreDeathTest = testing::Test;

TEST_F(CfCoreDeathTest, ReleasingADeadObjectStopsWithAMessage) {
  EXPECT_DEATH(
      {
        CFStringRef s = cfcore::makeString("gone");
        CFRelease(s);
        CFRelease(s);
      },
      "CFRelease: the object is not alive");
}

TEST_F(CfCoreDeathTest, UsingAnObjectAsAnotherKindStops) {
  EXPECT_DEATH(
      {
        CFNumberRef n = cfcore::makeInt(1);
        CFStringGetLength(reinterpret_cast<CFStringRef>(n));
      },
      "another kind");
}

}  // namespace
