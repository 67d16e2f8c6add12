// COM for the Windows backend: one owner of an interface reference, COM made
// ready on the calling thread, and UTF-16 text to UTF-8.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform::windows {

// Holds one reference to a COM interface and releases it when done.
template <typename Interface>
class Com {
 public:
  Com() = default;
  // Takes over a reference the caller owns (what a COM call hands out).
  static Com adopt(Interface* pointer) {
    Com held;
    held.pointer_ = pointer;
    return held;
  }
  // Adds a reference of its own.
  static Com retain(Interface* pointer) {
    if (pointer != nullptr) pointer->AddRef();
    return adopt(pointer);
  }
  Com(const Com& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  Com(Com&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  Com& operator=(Com other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~Com() { reset(); }

  void reset() {
    if (Interface* old = std::exchange(pointer_, nullptr)) old->Release();
  }
  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For a call that hands out a new reference: releases what is held first.
  Interface** out() {
    reset();
    return &pointer_;
  }
  // The same object under another of its interfaces, or nothing.
  template <typename Other>
  Com<Other> as(REFIID iid) const {
    Com<Other> other;
    if (pointer_ != nullptr &&
        FAILED(pointer_->QueryInterface(iid, reinterpret_cast<void**>(other.out())))) {
      other.reset();
    }
    return other;
  }

 private:
  Interface* pointer_ = nullptr;
};

// Makes COM ready on the calling thread, once per thread: the multithreaded
// apartment, which the audio and automation clients are made for. False when
// COM cannot be used on it.
bool comReady();

// UTF-16 from the system to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8(std::wstring_view text);
// UTF-8 to UTF-16; absent for bytes that are not UTF-8.
std::optional<std::wstring> utf16(std::string_view text);

}  // namespace platform::windows
