#include "platform/cf_ref.h"
#include "platform/cf/cfcore.h"
#include "support/live_objects.h"

#include <gtest/gtest.h>

namespace {

TEST(SimCoreFoundation, CountsObjectsUntilTheLastRelease) {
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

TEST(SimCoreFoundation, ArraysAndUrlsOwnWhatTheyHold) {
  LiveObjectsUnchanged check;
  CFStringRef text = CFStringCreateWithCString(nullptr, "https://a.example/x", kCFStringEncodingUTF8);
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

TEST(SimCoreFoundation, ConstantsAreImmortal) {
  LiveObjectsUnchanged check;
  CFRelease(kCFBooleanTrue);
  CFRelease(CFSTR("AXRole"));
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_EQ(CFSTR("AXRole"), CFSTR("AXRole"));
  EXPECT_EQ(cfcore::stringValue(CFSTR("AXRole")), "AXRole");
}

TEST(SimCoreFoundation, StringsMeasureAndCopyLikeThePlatform) {
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

TEST(SimCoreFoundation, NumbersConvertOnlyWhenExact) {
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

TEST(SimCoreFoundation, HolderReleasesExactlyOnce) {
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

using SimCoreFoundationDeathTest = testing::Test;

TEST_F(SimCoreFoundationDeathTest, ReleasingADeadObjectStopsWithAMessage) {
  EXPECT_DEATH(
      {
        CFStringRef s = cfcore::makeString("gone");
        CFRelease(s);
        CFRelease(s);
      },
      "CFRelease: the object is not alive");
}

TEST_F(SimCoreFoundationDeathTest, UsingAnObjectAsAnotherKindStops) {
  EXPECT_DEATH(
      {
        CFNumberRef n = cfcore::makeInt(1);
        CFStringGetLength(reinterpret_cast<CFStringRef>(n));
      },
      "another kind");
}

}  // namespace
