// CFURL: an absolute URL kept as the string it was made from, which must have
// no character a URL cannot hold.
#include "platform/cf/cf_url.h"

#include "platform/cf/cfcore.h"

#include "platform/cf/cf_string.h"
#include "platform/cf/internal.h"
#include <cstring>

namespace cfcore {
namespace {

class Url final : public Object {
 public:
  explicit Url(CFStringRef string) : Object(urlType), string_(string) {}
  ~Url() override { CFRelease(string_); }
  CFStringRef string() const { return string_; }
  bool equals(const Object& other) const override {
    return CFEqual(string_, static_cast<const Url&>(other).string_);
  }

 private:
  CFStringRef string_;  // owned
};

}  // namespace

CFURLRef makeUrl(std::string_view absolute) {
  return static_cast<CFURLRef>((new Url(makeString(absolute)))->ref());
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID CFURLGetTypeID(void) { return urlType; }

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL) {
  if (baseURL != nullptr) {
    fail("CFURLCreateWithString", "relative URLs are not supported", baseURL);
  }
  if (URLString == nullptr) return nullptr;
  std::string_view text = stringValue(URLString);
  if (text.empty()) return nullptr;
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) return nullptr;
  }
  CFRetain(URLString);
  return static_cast<CFURLRef>((new Url(URLString))->ref());
}

CFStringRef CFURLGetString(CFURLRef anURL) {
  return as<Url>(anURL, urlType, "CFURLGetString")->string();
}

CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL) {
  as<Url>(relativeURL, urlType, "CFURLCopyAbsoluteURL");
  return static_cast<CFURLRef>(CFRetain(relativeURL));
}

}  // extern "C"
