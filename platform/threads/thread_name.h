// Names the calling thread, as `top -H`, /proc and debuggers show it, so that
// what each of the agent's threads costs can be told apart. Linux keeps 15
// bytes of a name; the end of a longer one is kept, where labels differ.
#pragma once

#if defined(__linux__)
#include <pthread.h>

#include <cstring>
#endif

namespace platform {

inline void nameThisThread(const char* name) {
#if defined(__linux__)
  const std::size_t length = std::strlen(name);
  (void)pthread_setname_np(pthread_self(), length > 15 ? name + length - 15 : name);
#else
  (void)name;
#endif
}

}  // namespace platform
