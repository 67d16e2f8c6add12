// judgeNumberText and numberLength on their own.
#include "agent/json_number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace tondrel;

namespace {

using Kind = JsonNumber::Kind;

TEST(JudgeNumberText, ExactDecimalValue) {
  struct Case {
    std::string text;
    Kind kind;
    std::int64_t whole;
  };
  const std::string many = "1" + std::string(400, '0');
  const Case cases[] = {
      {"0", Kind::whole, 0},
      {"-0.0e7", Kind::whole, 0},
      {"1.0", Kind::whole, 1},
      {"10e-1", Kind::whole, 1},
      {"0.1e1", Kind::whole, 1},
      {"1.5", Kind::fraction, 0},
      {"1e-400", Kind::fraction, 0},
      {"9223372036854775807", Kind::whole, INT64_MAX},
      {"9223372036854775808", Kind::wholeOutOfRange, 0},
      {"-9223372036854775808", Kind::whole, INT64_MIN},
      {"-9223372036854775809", Kind::wholeOutOfRange, 0},
      {"922337203685477580.7e1", Kind::whole, INT64_MAX},
      {"92233720368547758.08e2", Kind::wholeOutOfRange, 0},
      {many + "e-400", Kind::whole, 1},
      {"1e400", Kind::wholeOutOfRange, 0},
      {"1e99999999999999999999", Kind::wholeOutOfRange, 0},
      {"1e-99999999999999999999", Kind::fraction, 0},
  };
  for (const Case& c : cases) {
    const JsonNumber judged = judgeNumberText(c.text);
    EXPECT_EQ(judged.kind, c.kind) << c.text;
    if (c.kind == Kind::whole) {
      EXPECT_EQ(judged.whole, c.whole) << c.text;
    }
  }
}

TEST(NumberLength, TheJsonNumberAtTheStart) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"12,", 2}, {"-0.5e+3]", 7}, {"0123", 1}, {"-", 0}, {"1.", 0},
      {"1e", 0},  {".5", 0},       {"1.5x", 3}, {"", 0},  {"-01", 2},
  };
  for (const auto& [text, length] : cases) EXPECT_EQ(numberLength(text), length) << text;
}

}  // namespace
