// Text across the CoreFoundation boundary.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/darwin/cf_ref.h"

namespace platform::darwin {

// The string as UTF-8; nothing when it holds what UTF-8 cannot carry (a lone
// surrogate), since half a string would be a different string.
inline std::optional<std::string> utf8Text(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  const CFRange all = CFRangeMake(0, length);
  CFIndex size = 0;
  if (CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size) != length) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  CFIndex used = 0;
  if (CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false,
                       reinterpret_cast<UInt8*>(text.data()), size, &used) != length ||
      used != size) {
    return std::nullopt;
  }
  return text;
}

// A new platform string for the UTF-8 text; empty when the text is not UTF-8.
inline CFRef<CFStringRef> platformString(std::string_view utf8) {
  return adoptCF(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                              static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

}  // namespace platform::darwin
