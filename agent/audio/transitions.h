// The input states a stream went through between two polls, in order.
#pragma once

#include <cstdint>

namespace tondrel {

// Calls `each(running)` once for every change of a stream's input state since
// the previous poll, oldest first: from `was` (its state at that poll) to
// `now`, through `startsBetween` starts the backend saw on the way. Without
// such starts that is the one change from `was` to `now`, if any; with them,
// a running stream first stopped, and every start but a last one still
// running now was followed by its stop. So every true has its false, and a
// capture shorter than the time between two polls is still a true and a
// false.
template <typename Each>
void forEachTransition(bool was, bool now, std::uint32_t startsBetween, Each&& each) {
  if (startsBetween == 0) {
    if (was != now) each(now);
    return;
  }
  if (was) each(false);
  for (std::uint32_t start = 1; start <= startsBetween; ++start) {
    each(true);
    if (start < startsBetween || !now) each(false);
  }
}

}  // namespace tondrel
