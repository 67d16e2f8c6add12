// The events a stream's changes between two polls make, in order.
#include "agent/audio/transitions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string events(bool was, bool now, std::uint32_t starts) {
  std::string out;
  tondrel::forEachTransition(was, now, starts,
                             [&out](bool running) { out += running ? '+' : '-'; });
  return out;
}

TEST(Transitions, EveryStartHasItsStopInOrder) {
  struct Case {
    bool was;
    bool now;
    std::uint32_t starts;
    const char* expected;
  };
  const std::vector<Case> cases = {
      // What sampling alone shows.
      {false, false, 0, ""},
      {true, true, 0, ""},
      {false, true, 0, "+"},
      {true, false, 0, "-"},
      // What happened in between, which the states alone do not show.
      {false, false, 1, "+-"},
      {false, true, 1, "+"},
      {true, true, 1, "-+"},
      {true, false, 1, "-+-"},
      {false, false, 3, "+-+-+-"},
      {false, true, 2, "+-+"},
      {true, true, 2, "-+-+"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(events(c.was, c.now, c.starts), c.expected)
        << "was " << c.was << ", now " << c.now << ", starts " << c.starts;
  }
}

}  // namespace
