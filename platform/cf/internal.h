// What the CF core's files share and nothing outside them uses: the type ids
// of the built-in kinds, the stop on misuse, and typed access to an object.
#pragma once

#include "platform/cf/cfcore.h"

namespace cfcore {

inline constexpr CFTypeID stringType = 1;
inline constexpr CFTypeID numberType = 2;
inline constexpr CFTypeID booleanType = 3;
inline constexpr CFTypeID arrayType = 4;
inline constexpr CFTypeID urlType = 5;

// Stops the program with a message naming the operation and the reason.
[[noreturn]] void fail(const char* what, const char* why, CFTypeRef ref);

// The object behind a live reference of the given kind, or a stop.
template <typename T>
const T* as(CFTypeRef ref, CFTypeID type, const char* what) {
  Object* object = checked(ref, what);
  if (object->type() != type) {
    fail(what, "called on an object of another kind", ref);
  }
  return static_cast<const T*>(object);
}

}  // namespace cfcore
