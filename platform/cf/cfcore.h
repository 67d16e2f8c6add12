// The CF core: the object model behind the stand-in CoreFoundation header,
// shared by every backend that is not Apple.
//
// Every object handed out through a CoreFoundation-style reference is a
// cfcore::Object. Objects are reference counted for real; while alive they are
// registered, so a release or retain of an object that is no longer alive stops
// the program with a message instead of corrupting memory, and tests can read
// how many objects are alive to prove that a piece of code released everything
// it was given.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <string>

namespace cfcore {

class Object {
 public:
  explicit Object(CFTypeID type, bool immortal = false);
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object();

  CFTypeID type() const { return type_; }
  bool immortal() const { return immortal_; }
  std::atomic<long>& refs() { return refs_; }

  // Hands the object out as a reference of the platform's kind (+1 already
  // held by the caller, as with a Create or Copy function).
  CFTypeRef ref() const { return this; }

  // Whether this object has the value of `other`, an object of the same kind
  // that is not this one. Kinds without a value compare by identity.
  virtual bool equals(const Object& other) const {
    static_cast<void>(other);
    return false;
  }
  // Equal objects hash alike. Objects of one kind all hash alike unless the
  // kind says better, which is always correct, if slow to look up.
  virtual CFHashCode hash() const { return static_cast<CFHashCode>(type_); }

 private:
  CFTypeID type_;
  bool immortal_;
  std::atomic<long> refs_{1};
};

// Registers a new object kind (a backend's Accessibility elements are one)
// and answers its type id.
CFTypeID registerType(const char* name);
const char* typeName(CFTypeID type);

// Objects alive right now, not counting immortal ones (constants, booleans).
long liveObjects();
// The kinds of the objects alive right now, for a test's failure message.
std::string describeLiveObjects();

// Answers the object behind a reference, or stops the program when the
// reference names no live object. `what` names the calling operation.
Object* checked(CFTypeRef ref, const char* what);

}  // namespace cfcore
