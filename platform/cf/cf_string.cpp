// CFString: text kept both as UTF-8 (what every caller wants) and as UTF-16
// (what lengths, ranges and comparisons count in).
#include "platform/cf/cf_string.h"

#include "platform/cf/cfcore.h"

#include "platform/cf/internal.h"
#include "common/utf8.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cfcore {
namespace {

class String final : public Object {
 public:
  String(std::string utf8, std::u16string utf16, bool immortal = false)
      : Object(stringType, immortal), utf8_(std::move(utf8)), utf16_(std::move(utf16)) {}
  const std::string& utf8() const { return utf8_; }
  const std::u16string& utf16() const { return utf16_; }
  bool equals(const Object& other) const override {
    return utf8_ == static_cast<const String&>(other).utf8_;
  }

 private:
  std::string utf8_;
  std::u16string utf16_;
};

// The UTF-16 form of well-formed UTF-8; false for anything ill-formed.
bool utf16From(std::string_view utf8, std::u16string& out) {
  out.clear();
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const tondrel::Utf8Sequence sequence = tondrel::nextUtf8Sequence(utf8);
    if (!sequence.wellFormed) return false;
    const char32_t cp = sequence.codePoint;
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    utf8.remove_prefix(sequence.length);
  }
  return true;
}

CFStringRef newString(std::string_view utf8) {
  std::u16string utf16;
  if (!utf16From(utf8, utf16)) return nullptr;
  return static_cast<CFStringRef>((new String(std::string(utf8), std::move(utf16)))->ref());
}

}  // namespace

std::string_view stringValue(CFStringRef ref) {
  return as<String>(ref, stringType, "CFString access")->utf8();
}

CFStringRef makeString(std::string_view utf8) {
  CFStringRef s = newString(utf8);
  if (s == nullptr) fail("makeString", "the text is not valid UTF-8", nullptr);
  return s;
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID CFStringGetTypeID(void) { return stringType; }

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
  if (bytes == nullptr || numBytes < 0) return nullptr;
  std::string_view view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes));
  if (encoding == kCFStringEncodingASCII) {
    for (char c : view) {
      if (static_cast<unsigned char>(c) > 0x7F) return nullptr;
    }
  } else if (encoding != kCFStringEncodingUTF8) {
    fail("CFStringCreateWithBytes", "only UTF-8 and ASCII are supported", nullptr);
  }
  return newString(view);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) {
  if (cStr == nullptr) return nullptr;
  return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8*>(cStr),
                                 static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return static_cast<CFIndex>(
      as<String>(theString, stringType, "CFStringGetLength")->utf16().size());
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (encoding == kCFStringEncodingUTF8) return length * 3;
  return length;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
  const std::string& text = as<String>(theString, stringType, "CFStringGetCString")->utf8();
  if (encoding == kCFStringEncodingASCII) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) > 0x7F) return false;
    }
  } else if (encoding != kCFStringEncodingUTF8) {
    return false;
  }
  if (buffer == nullptr || bufferSize < 0 ||
      static_cast<std::size_t>(bufferSize) < text.size() + 1) {
    return false;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding) {
  // The platform gives no guarantee here; answering NULL keeps every caller on
  // the general path, which is the one that must be right.
  as<String>(theString, stringType, "CFStringGetCStringPtr");
  return nullptr;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean, UInt8* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen) {
  const std::u16string& units = as<String>(theString, stringType, "CFStringGetBytes")->utf16();
  if (range.location < 0 || range.length < 0 ||
      static_cast<std::size_t>(range.location + range.length) > units.size()) {
    fail("CFStringGetBytes", "range out of bounds", theString);
  }
  CFIndex used = 0;
  CFIndex converted = 0;
  std::string bytes;
  CFIndex i = range.location;
  const CFIndex end = range.location + range.length;
  while (i < end) {
    char32_t cp = units[static_cast<std::size_t>(i)];
    CFIndex width = 1;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < end) {
      char32_t low = units[static_cast<std::size_t>(i + 1)];
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        width = 2;
      }
    }
    bytes.clear();
    if (encoding == kCFStringEncodingASCII) {
      if (cp > 0x7F) {
        if (lossByte == 0) break;
        bytes.push_back(static_cast<char>(lossByte));
      } else {
        bytes.push_back(static_cast<char>(cp));
      }
    } else if (encoding == kCFStringEncodingUTF8) {
      tondrel::appendUtf8(bytes, cp);
    } else {
      break;
    }
    const auto size = static_cast<CFIndex>(bytes.size());
    if (buffer != nullptr) {
      if (used + size > maxBufLen) break;
      std::memcpy(buffer + used, bytes.data(), bytes.size());
    }
    used += size;
    converted += width;
    i += width;
  }
  if (usedBufLen != nullptr) *usedBufLen = used;
  return converted;
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
  if (compareOptions != 0) {
    fail("CFStringCompare", "only the literal comparison is supported", theString1);
  }
  const std::u16string& a = as<String>(theString1, stringType, "CFStringCompare")->utf16();
  const std::u16string& b = as<String>(theString2, stringType, "CFStringCompare")->utf16();
  int c = a.compare(b);
  return c < 0 ? kCFCompareLessThan : c > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

CFStringRef tondrelConstantString(const char* cStr) {
  static std::mutex* lock = new std::mutex;
  static auto* interned = new std::unordered_map<std::string, String*>;
  std::lock_guard<std::mutex> guard(*lock);
  auto found = interned->find(cStr);
  if (found != interned->end()) return static_cast<CFStringRef>(found->second->ref());
  std::u16string utf16;
  if (!utf16From(cStr, utf16)) fail("CFSTR", "the text is not valid UTF-8", nullptr);
  auto* s = new String(cStr, std::move(utf16), true);
  interned->emplace(cStr, s);
  return static_cast<CFStringRef>(s->ref());
}

}  // extern "C"
