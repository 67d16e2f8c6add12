#include "agent/message.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using namespace tondrel;

namespace {

struct Case {
  const char* name;
  Message message;
  std::string json;
};

TEST(JsonWriter, WritesEachValueKindCompactly) {
  // clang-format off
  const std::vector<Case> cases = {
      {"absent values keep their key as null",
       {{"event", std::string("mic")}, {"running", true}, {"pid", std::monostate{}},
        {"appPid", std::monostate{}}},
       R"({"event":"mic","running":true,"pid":null,"appPid":null})"},
      {"integers with sign, no fraction",
       {{"a", std::int64_t{0}}, {"b", std::int64_t{-7}},
        {"c", std::int64_t{INT64_MIN}}, {"d", std::int64_t{INT64_MAX}}},
       R"({"a":0,"b":-7,"c":-9223372036854775808,"d":9223372036854775807})"},
      {"booleans", {{"t", true}, {"f", false}}, R"({"t":true,"f":false})"},
      {"empty list is [] not null", {{"urls", std::vector<std::string>{}}}, R"({"urls":[]})"},
      {"list of strings",
       {{"urls", std::vector<std::string>{"a", "b"}}}, R"({"urls":["a","b"]})"},
      {"solidus escaped", {{"u", std::string("https://x.org/a")}},
       R"({"u":"https:\/\/x.org\/a"})"},
      {"quote and reverse solidus", {{"s", std::string("a\"b\\c")}}, R"({"s":"a\"b\\c"})"},
      {"short escapes", {{"s", std::string("\n\r\t\b\f")}}, R"({"s":"\n\r\t\b\f"})"},
      {"other control characters as \\u00XX",
       {{"s", std::string("\x01\x1f\x7f", 3)}}, R"({"s":"\u0001\u001f\u007f"})"},
      {"NUL inside a string", {{"s", std::string("a\0b", 3)}}, R"({"s":"a\u0000b"})"},
      {"non-ASCII stays raw UTF-8", {{"s", std::string("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\xA4")}},
       "{\"s\":\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\xA4\"}"},
      {"ill-formed UTF-8 repaired, never dropped",
       {{"s", std::string("a\xFF" "b\xE2\x82" "c")}}, "{\"s\":\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\"}"},
      {"empty message", {}, "{}"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(toJson(c.message), c.json) << c.name;
  }
}

TEST(JsonWriter, StandardParserReadsBackWhatWasWritten) {
  std::string everyByte;
  for (int c = 1; c < 0x80; ++c) everyByte.push_back(static_cast<char>(c));
  everyByte += "\xC3\xA9/\xE6\x97\xA5";
  const Message message = {{"event", std::string("page-urls")},
                           {"id", std::int64_t{-42}},
                           {"trusted", true},
                           {"urls", std::vector<std::string>{everyByte, "https://a.b/c?d=e#f"}}};
  const std::string line = toJson(message);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  for (char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "raw control byte";
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["id"].get<std::int64_t>(), -42);
  EXPECT_EQ(parsed["urls"][0].get<std::string>(), everyByte);
  EXPECT_EQ(parsed["urls"][1].get<std::string>(), "https://a.b/c?d=e#f");
  EXPECT_EQ(parsed["trusted"].get<bool>(), true);
}

}  // namespace

namespace {

// Every byte that needs escaping, and a non-ASCII character, at every offset
// of a longer plain string: the writer skips plain text in blocks, so what
// matters is that nothing special slips through inside or at the edge of one.
TEST(JsonWriter, EscapesAtEveryOffsetOfALongString) {
  std::vector<std::string> specials;
  for (int c = 0; c < 0x20; ++c) specials.emplace_back(1, static_cast<char>(c));
  for (const char* s : {"\"", "\\", "/", "\x7f", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xA4"}) {
    specials.emplace_back(s);
  }
  for (const std::string& special : specials) {
    for (std::size_t offset = 0; offset <= 24; ++offset) {
      std::string text(24, 'a');
      text.insert(offset, special);
      const std::string line = toJson({{"s", text}});
      for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        ASSERT_TRUE(c >= 0x20 && c != 0x7F) << "raw control byte at " << i << " in " << line;
        if (c == '/') {
          // An escaped solidus: preceded by an odd run of reverse solidi.
          std::size_t run = 0;
          while (run < i && line[i - 1 - run] == '\\') ++run;
          ASSERT_EQ(run % 2, 1u) << "unescaped solidus in " << line;
        }
      }
      ASSERT_EQ(nlohmann::json::parse(line)["s"].get<std::string>(), text)
          << "offset " << offset << " of " << testing::PrintToString(special);
    }
  }
  // Ill-formed bytes are still repaired when they sit past a plain block.
  EXPECT_EQ(toJson({{"s", std::string(16, 'a') + "\xFF"}}),
            "{\"s\":\"" + std::string(16, 'a') + "\xEF\xBF\xBD\"}");
}

}  // namespace
