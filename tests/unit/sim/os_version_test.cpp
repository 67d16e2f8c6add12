#include "platform/darwin/os_version.h"
#include "sim/os_version.h"
#include "support/live_objects.h"

#include <gtest/gtest.h>

namespace {

TEST(OsVersion, ComparesMajorThenMinorThenPatch) {
  LiveObjectsUnchanged live;
  struct Case {
    platform::darwin::OsVersion running;
    bool atLeast14;
  };
  const Case cases[] = {{{12, 0, 0}, false}, {{13, 6, 9}, false}, {{13, 99, 99}, false},
                        {{14, 0, 0}, true},  {{14, 0, 1}, true},  {{14, 5, 0}, true},
                        {{15, 0, 0}, true}};
  for (const Case& c : cases) {
    sim::os::setVersion(c.running);
    EXPECT_EQ(platform::darwin::operatingSystemIsAtLeast({14, 0, 0}), c.atLeast14)
        << c.running.major << "." << c.running.minor << "." << c.running.patch;
  }
  sim::os::setVersion({14, 2, 0});
  EXPECT_FALSE(platform::darwin::operatingSystemIsAtLeast({14, 2, 1}));
  EXPECT_TRUE(platform::darwin::operatingSystemIsAtLeast({14, 2, 0}));
  sim::os::reset();
}

}  // namespace
