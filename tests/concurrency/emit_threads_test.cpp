#include "agent/emit.h"
#include "support/output_capture.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace tondrel;

namespace {

// Two producers, as in the agent: the main thread's events and the page
// reader's replies. Replies are long (well past the pipe's atomic write size)
// so a line written in pieces would show up torn.
TEST(EmitFromTwoThreads, EveryLineStaysWholeAndNothingIsLost) {
  constexpr int perThread = 400;
  OutputCapture capture;
  auto producer = [](const std::string& kind, std::size_t urlLength) {
    for (int i = 0; i < perThread; ++i) {
      emit({{"event", kind},
            {"id", std::int64_t{i}},
            {"urls", std::vector<std::string>{std::string(urlLength, 'u'), "https://x/y"}}});
    }
  };
  std::thread mic(producer, "mic", 10);
  std::thread replies(producer, "page-urls", 20000);
  mic.join();
  replies.join();

  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u * perThread);
  std::map<std::string, std::set<std::int64_t>> seen;
  std::map<std::string, std::int64_t> last{{"mic", -1}, {"page-urls", -1}};
  for (const auto& line : lines) {
    const auto parsed = nlohmann::json::parse(line);  // throws on a torn line
    const auto kind = parsed["event"].get<std::string>();
    const auto id = parsed["id"].get<std::int64_t>();
    EXPECT_GT(id, last[kind]) << "lines of one producer out of order";
    last[kind] = id;
    seen[kind].insert(id);
  }
  EXPECT_EQ(seen["mic"].size(), static_cast<std::size_t>(perThread));
  EXPECT_EQ(seen["page-urls"].size(), static_cast<std::size_t>(perThread));
  EXPECT_EQ(capture.bytes().back(), '\n');
  EXPECT_EQ(capture.bytes().find('\r'), std::string::npos);
}

}  // namespace
