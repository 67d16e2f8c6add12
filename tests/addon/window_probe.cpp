// Window step for the test build of the module. It accepts exactly two
// values, a full word and a 32-bit one (the size of an X11 window id), so a
// test that passes one of them sees true only if its bytes arrived intact,
// in host byte order and widened without sign, and sees false whenever the
// module rejected the call before asking the step.
#include <cstdint>

#include "window.h"

bool preventActivation(void* view) {
  auto const value = reinterpret_cast<std::uintptr_t>(view);
  return value == 0x0123456789abcdefU || value == 0xfedcba98U;
}
