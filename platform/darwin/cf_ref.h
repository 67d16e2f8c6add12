// The one holder for CoreFoundation references.
//
// A CFRef either adopts a reference the caller already owns (the result of a
// Create or Copy function) or retains a borrowed one (a Get result, an item of
// an array), and releases it exactly once when it is reset or goes away. Moving
// hands the reference on; copying is not offered, so no path can release twice.
// adoptCF and retainCF make one with the type taken from the argument.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

template <typename T>
class CFRef {
 public:
  CFRef() noexcept = default;
  CFRef(const CFRef&) = delete;
  CFRef& operator=(const CFRef&) = delete;
  CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef& operator=(CFRef&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  ~CFRef() { reset(); }

  // Takes over a reference the caller owns (+1); null stays empty.
  [[nodiscard]] static CFRef adopt(T ref) noexcept { return CFRef(ref); }
  // Holds a reference of its own to a borrowed object; null stays empty.
  [[nodiscard]] static CFRef retain(T ref) noexcept {
    if (ref != nullptr) CFRetain(ref);
    return CFRef(ref);
  }

  T get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

  void reset() noexcept {
    if (ref_ != nullptr) CFRelease(std::exchange(ref_, nullptr));
  }

  // For out-parameters of Copy functions: empties the holder and lends the
  // slot; whatever the callee stores there is owned by the holder afterwards.
  T* slot() noexcept {
    reset();
    return &ref_;
  }

 private:
  explicit CFRef(T ref) noexcept : ref_(ref) {}
  T ref_ = nullptr;
};

// Takes over a reference the caller owns (the result of a Create or Copy function).
template <typename T>
[[nodiscard]] CFRef<T> adoptCF(T ref) noexcept {
  return CFRef<T>::adopt(ref);
}

// Holds a reference of its own to a borrowed object (a Get result, an array item).
template <typename T>
[[nodiscard]] CFRef<T> retainCF(T ref) noexcept {
  return CFRef<T>::retain(ref);
}
