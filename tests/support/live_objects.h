// Checks that a test hands back every simulated CoreFoundation object it was
// given: the live count at the end of the scope must equal the count at its
// start.
#pragma once

#include "sim/cf_objects.h"

#include <gtest/gtest.h>

class LiveObjectsUnchanged {
 public:
  LiveObjectsUnchanged() : before_(sim::cf::liveObjects()) {}
  LiveObjectsUnchanged(const LiveObjectsUnchanged&) = delete;
  LiveObjectsUnchanged& operator=(const LiveObjectsUnchanged&) = delete;
  ~LiveObjectsUnchanged() {
    EXPECT_EQ(sim::cf::liveObjects(), before_)
        << "objects still alive: " << sim::cf::describeLiveObjects();
  }

 private:
  long before_;
};
