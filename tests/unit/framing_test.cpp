// completeLines on its own: which lines a chunk completes and what stays
// pending, with no agent around it.
#include "agent/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tondrel;

namespace {

using Lines = std::vector<std::string>;

struct Step {
  std::string chunk;
  Lines lines;          // completed by this chunk
  std::string pending;  // afterwards
};

TEST(CompleteLines, ChunksToLines) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"no line feed yet", {{"abc", {}, "abc"}, {"def", {}, "abcdef"}}},
      {"a line split over chunks", {{"ab", {}, "ab"}, {"c\nd", {"abc"}, "d"}, {"\n", {"d"}, ""}}},
      {"several lines in one chunk", {{"a\nb\n\nc", {"a", "b", ""}, "c"}}},
      {"a lone line feed", {{"\n", {""}, ""}}},
      {"carriage returns are kept", {{"a\r\n\r\n", {"a\r", "\r"}, ""}}},
      {"an empty chunk", {{"x", {}, "x"}, {"", {}, "x"}}},
      {"ill-formed UTF-8 is replaced per line",
       {{"a\xFF", {}, "a\xFF"}, {"\nb\xC3", {"a" + fffd}, "b\xC3"}, {"\xA9\n", {"b\xC3\xA9"}, ""}}},
      {"a NUL is a byte like any other",
       {{std::string("a\0b\n", 4), {std::string("a\0b", 3)}, ""}}},
  };
  for (const auto& [name, steps] : cases) {
    std::string pending;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      EXPECT_EQ(completeLines(pending, steps[i].chunk), steps[i].lines) << name << ", step " << i;
      EXPECT_EQ(pending, steps[i].pending) << name << ", step " << i;
    }
  }
}

TEST(CompleteLines, ALongLineInManySmallChunksComesOutWhole) {
  std::string pending;
  const std::string line(100000, 'x');
  for (std::size_t at = 0; at < line.size(); at += 7) {
    EXPECT_TRUE(completeLines(pending, std::string_view(line).substr(at, 7)).empty());
  }
  EXPECT_EQ(completeLines(pending, "\n"), Lines{line});
  EXPECT_EQ(pending, "");
}

}  // namespace
