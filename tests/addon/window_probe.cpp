// Window step for the test build of the module. It accepts exactly one
// address, so a test that passes that address sees true only if the 8 bytes
// arrived intact and in host byte order, and sees false whenever the module
// rejected the call before asking the step.
#include <cstdint>

#include "window.h"

bool preventActivation(void* view) {
  return reinterpret_cast<std::uintptr_t>(view) == 0x0123456789abcdefU;
}
