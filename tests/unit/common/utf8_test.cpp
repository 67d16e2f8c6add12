#include "common/utf8.h"

#include <gtest/gtest.h>

using namespace tondrel;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8Repair, OneReplacementPerMaximalIllFormedSubpart) {
  struct Case {
    std::string in;
    std::string out;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"plain ASCII", "plain ASCII"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\x80", fffd},                          // lone continuation
      {"\x80\x80", fffd + fffd},               // each its own subpart
      {"\xC0\xAF", fffd + fffd},               // overlong lead is never valid
      {"\xE2\x82", fffd},                      // truncated 3-byte: one subpart
      {"\xE2\x82" "A", fffd + "A"},
      {"\xF0\x9F\x98", fffd},                  // truncated 4-byte
      {"\xED\xA0\x80", fffd + fffd + fffd},    // surrogate: ED then A0 out of range
      {"\xE0\x80\x80", fffd + fffd + fffd},    // overlong 3-byte
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"\xF5", fffd},
      {"\xFF\xFE", fffd + fffd},
      {"a\xF1\x80" "b", "a" + fffd + "b"},
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",  // Unicode Standard example
       "a" + fffd + fffd + fffd + "b" + fffd + "c" + fffd + fffd + "d"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(repairedUtf8(c.in), c.out) << "input bytes: " << testing::PrintToString(c.in);
  }
}

}  // namespace

namespace {

TEST(Utf8Decode, AnswersTheCodePointOrTheIllFormedSubpart) {
  struct Case {
    std::string in;
    std::size_t length;
    bool wellFormed;
    char32_t codePoint;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"A", 1, true, 0x41},
      {"\xC2\x80", 2, true, 0x80},
      {"\xDF\xBF", 2, true, 0x7FF},
      {"\xE0\xA0\x80", 3, true, 0x800},
      {"\xED\x9F\xBF", 3, true, 0xD7FF},  // just below the surrogates
      {"\xEE\x80\x80", 3, true, 0xE000},  // just above them
      {"\xEF\xBF\xBF", 3, true, 0xFFFF},
      {"\xF0\x90\x80\x80", 4, true, 0x10000},
      {"\xF0\x9F\x98\x80" "tail", 4, true, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
      {"\xC0\xAF", 1, false, 0},
      {"\xED\xA0\x80", 1, false, 0},      // a surrogate
      {"\xE2\x82", 2, false, 0},          // cut short
      {"\xF0\x9F\x98" "A", 3, false, 0},
      {"\xF4\x90\x80\x80", 1, false, 0},  // above U+10FFFF
      {"\xFF", 1, false, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    const Utf8Sequence got = nextUtf8Sequence(c.in);
    EXPECT_EQ(got.length, c.length) << testing::PrintToString(c.in);
    EXPECT_EQ(got.wellFormed, c.wellFormed) << testing::PrintToString(c.in);
    if (c.wellFormed) {
      EXPECT_EQ(got.codePoint, c.codePoint) << testing::PrintToString(c.in);
    }
  }
}

TEST(Utf8Encode, EveryLengthBoundaryDecodesBackToItself) {
  for (const char32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu,
                            0x10000u, 0x10FFFFu}) {
    std::string bytes;
    appendUtf8(bytes, cp);
    const Utf8Sequence back = nextUtf8Sequence(bytes);
    EXPECT_TRUE(back.wellFormed) << std::hex << static_cast<unsigned>(cp);
    EXPECT_EQ(back.length, bytes.size()) << std::hex << static_cast<unsigned>(cp);
    EXPECT_EQ(back.codePoint, cp);
    EXPECT_EQ(repairedUtf8(bytes), bytes);
  }
}

}  // namespace
