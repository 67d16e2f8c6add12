#include "agent/utf8.h"

#include <gtest/gtest.h>

using namespace tondrel;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8Repair, OneReplacementPerMaximalIllFormedSubpart) {
  struct Case {
    std::string in;
    std::string out;
  };
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
  for (const auto& c : cases) {
    EXPECT_EQ(repairedUtf8(c.in), c.out) << "input bytes: " << testing::PrintToString(c.in);
  }
}

}  // namespace
