// Checks that a test hands back every simulated CoreFoundation object it was
// given: the live count at the end of the scope must equal the count at its
// start.
#pragma once

#include "platform/cf/cfcore.h"

#include <gtest/gtest.h>

class LiveObjectsUnchanged {
 public:
  LiveObjectsUnchanged() : before_(cfcore::liveObjects()) {}
  LiveObjectsUnchanged(const LiveObjectsUnchanged&) = delete;
  LiveObjectsUnchanged& operator=(const LiveObjectsUnchanged&) = delete;
  ~LiveObjectsUnchanged() {
    EXPECT_EQ(cfcore::liveObjects(), before_)
        << "objects still alive: " << cfcore::describeLiveObjects();
  }

 private:
  long before_;
};
