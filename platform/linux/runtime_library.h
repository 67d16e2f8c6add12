// Libraries opened at run time: each names the functions it needs once, in
// an X-macro list, and the declarations and lookups are made from that list.
//
//   #define FOO_FUNCTIONS(X) X(foo_open) X(foo_close)
//   struct Foo { FOO_FUNCTIONS(TONDREL_RUNTIME_FUNCTION) };
//   #define LOOK_UP(name) && runtime_library::lookUp(handle, #name, &foo.name)
//   const bool complete = true FOO_FUNCTIONS(LOOK_UP);
//
// Each member has the function's own name and real prototype.
#pragma once

#include <dlfcn.h>

namespace runtime_library {

// Answers whether `name` was found in `handle`; object and function pointers
// share a representation on every platform that has dlsym.
template <typename Function>
bool lookUp(void* handle, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(::dlsym(handle, name));
  return *slot != nullptr;
}

}  // namespace runtime_library

#define TONDREL_RUNTIME_FUNCTION(name) decltype(&::name) name = nullptr;
