#include "platform/linux/x11_library.h"

#include <dlfcn.h>

namespace x11 {

Library load(const char* fileName) {
  Library library;
  void* handle = dlopen(fileName, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return library;
  bool complete = true;
  // dlsym answers an object pointer; POSIX guarantees it converts to the
  // function's pointer type.
#define TONDREL_X11_REQUIRED(name)                                               \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name)); \
  complete = complete && library.name != nullptr;
#define TONDREL_X11_OPTIONAL(name) \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name));
  TONDREL_X11_FUNCTIONS(TONDREL_X11_REQUIRED, TONDREL_X11_OPTIONAL)
#undef TONDREL_X11_REQUIRED
#undef TONDREL_X11_OPTIONAL
  library.loaded = complete;
  return library;
}

}  // namespace x11
