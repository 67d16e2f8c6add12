#include "platform/darwin/element_access.h"

#include "platform/darwin/text.h"

namespace platform::darwin {

CFRef<CFTypeRef> attribute(AXUIElementRef element, std::string_view name) {
  CFRef<CFTypeRef> value;
  const CFRef<CFStringRef> platformName = platformString(name);
  if (!platformName) return value;
  const AXError result = AXUIElementCopyAttributeValue(element, platformName.get(), value.slot());
  // The platform may fill in a value and still fail; that value is not to be
  // trusted, and leaving the holder's scope drops it.
  if (result != kAXErrorSuccess) value.reset();
  return value;
}

ElementList children(AXUIElementRef element) {
  const CFRef<CFTypeRef> value = attribute(element, "AXChildren");
  std::optional<ElementList> list = elementList(value.get());
  return list ? std::move(*list) : ElementList{};
}

bool isTrue(CFTypeRef value) { return booleanValue(value).value_or(false); }

std::optional<ElementList> elementList(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFArrayGetTypeID()) return std::nullopt;
  const auto array = static_cast<CFArrayRef>(value);
  const CFIndex count = CFArrayGetCount(array);
  ElementList list;
  list.reserve(static_cast<std::size_t>(count));
  for (CFIndex i = 0; i < count; ++i) {
    const void* item = CFArrayGetValueAtIndex(array, i);
    if (item == nullptr || CFGetTypeID(item) != AXUIElementGetTypeID()) return std::nullopt;
    list.push_back(retainCF(static_cast<AXUIElementRef>(item)));
  }
  return list;
}

std::optional<std::string> stringValue(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  return utf8Text(static_cast<CFStringRef>(value));
}

std::optional<std::string> urlValue(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFURLGetTypeID()) return std::nullopt;
  const auto absolute = adoptCF(CFURLCopyAbsoluteURL(static_cast<CFURLRef>(value)));
  if (!absolute) return std::nullopt;
  const CFStringRef text = CFURLGetString(absolute.get());  // borrowed from `absolute`
  if (text == nullptr) return std::nullopt;
  return utf8Text(text);
}

std::optional<bool> booleanValue(CFTypeRef value) {
  if (value == nullptr) return std::nullopt;
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
  }
  if (type != CFNumberGetTypeID()) return std::nullopt;
  const auto number = static_cast<CFNumberRef>(value);
  // Judged on the number's own kind, so 1.5 is not taken for 1 and a huge
  // integer is not rounded into 1.
  if (CFNumberIsFloatType(number)) {
    double real = 0;
    if (!CFNumberGetValue(number, kCFNumberFloat64Type, &real)) return std::nullopt;
    if (real == 1.0) return true;
    if (real == 0.0) return false;
    return std::nullopt;
  }
  SInt64 integer = 0;
  if (!CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) return std::nullopt;
  if (integer == 1) return true;
  if (integer == 0) return false;
  return std::nullopt;
}

bool setAttribute(AXUIElementRef element, std::string_view name, CFTypeRef value) {
  const CFRef<CFStringRef> platformName = platformString(name);
  if (!platformName) return false;
  return AXUIElementSetAttributeValue(element, platformName.get(), value) == kAXErrorSuccess;
}

}  // namespace platform::darwin
