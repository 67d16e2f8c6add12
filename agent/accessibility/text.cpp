#include "agent/accessibility/text.h"

std::optional<std::string> utf8Text(CFStringRef string) {
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

CFRef<CFStringRef> platformString(std::string_view utf8) {
  return CFRef<CFStringRef>::adopt(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                              static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}
