#include <gtest/gtest.h>

#include <string>

#include "agent/command.h"

using namespace tondrel;

namespace {

using namespace std::string_literals;

std::string withId(const std::string& id) { return R"({"cmd":"page-urls","id":)" + id + "}"; }
std::string withPid(const std::string& pid) {
  return R"({"cmd":"page-urls","id":1,"bundleIds":["b"],"pid":)" + pid + "}";
}
std::string withBundleIds(const std::string& ids) {
  return R"({"cmd":"page-urls","id":1,"bundleIds":)" + ids + "}";
}

TEST(ParseCommand, LinesThatAreNoCommand) {
  const std::vector<std::string> lines = {
      "",
      "   ",
      "\r",
      "[]",
      "7",
      R"("page-urls")",
      "null",
      "{}",
      R"({"cmd":"page-urls","id":1)",
      R"({"cmd":"page-urls","id":1} x)",
      R"({"cmd":"page-urls","id":1}{"cmd":"page-urls","id":2})",
      R"({"cmd":"page-urls","id":1,})",
      R"({'cmd':'page-urls','id':1})",
      R"({"cmd":"page-urls","id":1} // comment)",
      R"({"cmd":"page-urls","id":1})"s + '\0',
      R"({"cmd":"page-urls","id":1})"s + '\0' + "garbage",
      R"({"cmd":"page-)"s + '\0' + R"(urls","id":1})",
      R"([{"cmd":"page-urls","id":1}])",
      R"({"x":{"cmd":"page-urls","id":1}})",
      R"({"id":1})",
      R"({"cmd":"Page-Urls","id":1})",
      R"({"cmd":"PAGE-URLS","id":1})",
      R"({"cmd":"page-urls ","id":1})",
      R"({"cmd":"page_urls","id":1})",
      R"({"cmd":"mic","id":1})",
      R"({"cmd":null,"id":1})",
      R"({"cmd":["page-urls"],"id":1})",
      R"({"cmd":"page-urls"})",
      R"({"cmd":"page-urls","id":"7"})",
      R"({"cmd":"page-urls","id":null})",
      R"({"cmd":"page-urls","id":[7]})",
      R"({"cmd":"page-urls","id":{"v":7}})",
      withId("7.5"),
      withId("true"),
      withId("false"),
      withId("0.1"),
      withId("1e-1"),
      withId("-7.000001"),
      withId("4611686018427387904.5"),
      withId("9223372036854775808"),
      withId("18446744073709551615"),
      withId("18446744073709551616"),
      withId("-9223372036854775809"),
      withId("9223372036854775808.0"),
      withId("9.223372036854775808e18"),
      withId("1e19"),
      withId("1e400"),
      withId("100000000000000000000000000000"),
      withId("-1e999999999999999999999"),
      withPid("true"),
      withPid("false"),
      withPid("2147483648"),
      withPid("-2147483649"),
      withPid("1e10"),
      withPid("2147483648.0"),
      withPid("9223372036854775808"),
      withPid("-9223372036854775809"),
      R"({"cmd":"page-urls","id":"x","id":)"
      "1"
      R"(,"id":"y"})",
      // Malformed numbers beyond a double stay malformed.
      R"({"cmd":"page-urls","id":1,"x":01e400})",
      R"({"cmd":"page-urls","id":1,"x":1e400.5})",
      R"({"cmd":"page-urls","id":1,"x":1e400e1})",
      R"({"cmd":"page-urls","id":1,"x":--1e400})",
      R"({"cmd":"page-urls","id":1,"x":+1e400})",
      R"({"cmd":"page-urls","id":1,"x":tru1e400})",
      R"({"cmd":"page-urls","id":1,"x":"a"1e400})",
      R"({"cmd":"page-urls","id":1,1e400:2})",
      withPid("1.5e400"),
      withPid("-1" + std::string(400, '0')),
  };
  for (const std::string& line : lines) {
    EXPECT_FALSE(parseCommand(line).has_value()) << testing::PrintToString(line);
  }
}

TEST(ParseCommand, IdsAreWholeNumbersJudgedExactly) {
  struct Case {
    std::string id;
    std::int64_t value;
  };
  const std::vector<Case> cases = {
      {"7", 7},
      {"7.0", 7},
      {"7e0", 7},
      {"7E+0", 7},
      {"0.7e1", 7},
      {"700e-2", 7},
      {"70.000e-1", 7},
      {"-7", -7},
      {"0", 0},
      {"-0", 0},
      {"-0.0", 0},
      {"0e-400", 0},
      {"9223372036854775807", 9223372036854775807},
      {"9223372036854775807.0", 9223372036854775807},
      {"9.223372036854775807e18", 9223372036854775807},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"-9223372036854775808.000", std::numeric_limits<std::int64_t>::min()},
      {"-9.223372036854775808E18", std::numeric_limits<std::int64_t>::min()},
      {"1e18", 1000000000000000000},
      {"4611686018427387904", 4611686018427387904},
  };
  for (const Case& c : cases) {
    const auto command = parseCommand(withId(c.id));
    ASSERT_TRUE(command.has_value()) << c.id;
    EXPECT_EQ(command->id, c.value) << c.id;
  }
}

TEST(ParseCommand, PidIsTakenWhenWholeAndFallsBackOtherwise) {
  struct Case {
    std::string pid;
    std::optional<pid_t> taken;  // nothing: "bundleIds" counts
  };
  const std::vector<Case> cases = {
      {"512", 512},
      {"512.0", 512},
      {"5.12e2", 512},
      {"-1", -1},
      {"0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"null", std::nullopt},
      {R"("512")", std::nullopt},
      {"7.5", std::nullopt},
      {"[512]", std::nullopt},
      {R"({"pid":512})", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto command = parseCommand(withPid(c.pid));
    ASSERT_TRUE(command.has_value()) << c.pid;
    EXPECT_EQ(command->pid, c.taken) << c.pid;
    // With a pid, the bundle identifiers are not even looked at.
    EXPECT_EQ(command->bundleIds,
              c.taken ? std::vector<std::string>{} : std::vector<std::string>{"b"})
        << c.pid;
  }
}

TEST(ParseCommand, BundleIdsOnlyWhenEveryItemIsAString) {
  using Ids = std::vector<std::string>;
  struct Case {
    std::string value;
    Ids ids;
  };
  const std::vector<Case> cases = {
      {R"(["com.a","com.b","com.a"])", {"com.a", "com.b", "com.a"}},
      {"[]", {}},
      {R"(["com.a",1])", {}},
      {R"(["com.a",null])", {}},
      {R"(["com.a",true])", {}},
      {R"(["com.a",["com.b"]])", {}},
      {R"(["com.a",{"id":"com.b"}])", {}},
      {R"([["com.a"]])", {}},
      {R"("com.a")", {}},
      {"null", {}},
      {R"({"0":"com.a"})", {}},
      {R"(["com.\u00e9", "x\ny"])", {"com.\xC3\xA9", "x\ny"}},
  };
  for (const Case& c : cases) {
    const auto command = parseCommand(withBundleIds(c.value));
    ASSERT_TRUE(command.has_value()) << c.value;
    EXPECT_FALSE(command->pid.has_value());
    EXPECT_EQ(command->bundleIds, c.ids) << c.value;
  }
  const auto missing = parseCommand(R"({"cmd":"page-urls","id":1})");
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->bundleIds, Ids{});
}

TEST(ParseCommand, NumbersBeyondADoubleAreStillJson) {
  struct Case {
    std::string line;
    std::optional<pid_t> pid;
    std::vector<std::string> bundleIds;
  };
  const std::string huge = "1" + std::string(400, '0');
  const std::vector<Case> cases = {
      {R"({"cmd":"page-urls","id":1,"pid":5,"x":1e400})", 5, {}},
      {R"({"cmd":"page-urls","id":1,"x":[-1E+999,2e400 ,{"y":)" + huge + R"(}],"pid":6})", 6, {}},
      {R"({"cmd":"page-urls","id":1,"x":)" + huge + R"(.5,"bundleIds":["b"]})",
       std::nullopt,
       {"b"}},
      // Not whole, so the identifiers count.
      {withPid(huge + ".5"), std::nullopt, {"b"}},
      // Inside strings nothing changes.
      {withBundleIds(R"(["1e400","x\" 1e400","\\",2e400])"), std::nullopt, {}},
      {withBundleIds(R"(["1e400","x\" 1e400:[1e999]"])"),
       std::nullopt,
       {"1e400", "x\" 1e400:[1e999]"}},
  };
  for (const Case& c : cases) {
    const auto command = parseCommand(c.line);
    ASSERT_TRUE(command.has_value()) << c.line.substr(0, 120);
    EXPECT_EQ(command->pid, c.pid) << c.line.substr(0, 120);
    EXPECT_EQ(command->bundleIds, c.bundleIds) << c.line.substr(0, 120);
  }
}

TEST(ParseCommand, TheLastOfARepeatedKeyCounts) {
  const auto a =
      parseCommand(R"({"cmd":"x","id":"y","cmd":"page-urls","id":3,"pid":"no","pid":9})");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->id, 3);
  EXPECT_EQ(a->pid, 9);
  EXPECT_FALSE(parseCommand(R"({"cmd":"page-urls","id":3,"cmd":"other"})").has_value());
  const auto b = parseCommand(
      R"({"cmd":"page-urls","id":1,"bundleIds":["a"],"bundleIds":7,"bundleIds":["b","c"]})");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->bundleIds, (std::vector<std::string>{"b", "c"}));
  const auto c = parseCommand(R"({"cmd":"page-urls","id":1,"bundleIds":["a"],"bundleIds":7})");
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->bundleIds, std::vector<std::string>{});
}

TEST(ParseCommand, KeysInsideNestedValuesDoNotCount) {
  const auto command =
      parseCommand(R"({"x":{"id":"bad","pid":true,"bundleIds":[1]},"cmd":"page-urls","id":2,)"
                   R"("y":[{"pid":5}],"bundleIds":["ok"]})");
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(command->id, 2);
  EXPECT_FALSE(command->pid.has_value());
  EXPECT_EQ(command->bundleIds, std::vector<std::string>{"ok"});
}

TEST(ParseCommand, WhitespaceAroundTheObjectIsFine) {
  for (const std::string& line : {R"({"cmd":"page-urls","id":4})"
                                  "\r"s,
                                  "  \t{ \"cmd\" : \"page-urls\" , \"id\" : 4 }  "s}) {
    const auto command = parseCommand(line);
    ASSERT_TRUE(command.has_value()) << testing::PrintToString(line);
    EXPECT_EQ(command->id, 4);
  }
}

TEST(ParseCommand, DeepNestingNeitherRecursesNorCounts) {
  constexpr std::size_t depth = 200000;
  const std::string nested = std::string(depth, '[') + std::string(depth, ']');
  const auto command =
      parseCommand(R"({"cmd":"page-urls","id":5,"deep":)" + nested + R"(,"bundleIds":["a"]})");
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(command->bundleIds, std::vector<std::string>{"a"});
  // Deep inside the identifiers, and unclosed: neither may crash.
  EXPECT_EQ(parseCommand(withBundleIds("[" + nested + "]"))->bundleIds, std::vector<std::string>{});
  EXPECT_FALSE(
      parseCommand(R"({"cmd":"page-urls","id":5,"deep":)" + std::string(depth, '{')).has_value());
}

}  // namespace
