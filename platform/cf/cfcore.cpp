// The CoreFoundation core for builds without the framework: strings, numbers, booleans, arrays and URLs
// with real reference counting and a registry of live objects.
#include "platform/cf/cfcore.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace cfcore {
namespace {

[[noreturn]] void fail(const char* what, const char* why, CFTypeRef ref) {
  std::fprintf(stderr, "CoreFoundation core: %s: %s (%p)\n", what, why, ref);
  std::fflush(stderr);
  std::abort();
}

// Never destroyed: threads that outlive main may still release objects while
// static destructors run.
struct Registry {
  std::mutex lock;
  std::unordered_set<const Object*> alive;
  std::vector<std::string> typeNames{"(none)", "CFString", "CFNumber",
                                     "CFBoolean", "CFArray", "CFURL"};
  std::atomic<long> mortal{0};
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

constexpr CFTypeID stringType = 1;
constexpr CFTypeID numberType = 2;
constexpr CFTypeID booleanType = 3;
constexpr CFTypeID arrayType = 4;
constexpr CFTypeID urlType = 5;

// Decodes UTF-8; answers false on any ill-formed sequence.
bool decodeUtf8(std::string_view bytes, std::u16string* out) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto b0 = static_cast<unsigned char>(bytes[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (b0 < 0x80) {
      cp = b0;
      len = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1F;
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0F;
      len = 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > bytes.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    if (out != nullptr) {
      if (cp >= 0x10000) {
        char32_t v = cp - 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        out->push_back(static_cast<char16_t>(cp));
      }
    }
    i += len;
  }
  return true;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

class String final : public Object {
 public:
  String(std::string utf8, std::u16string utf16, bool immortal = false)
      : Object(stringType, immortal), utf8_(std::move(utf8)), utf16_(std::move(utf16)) {}
  const std::string& utf8() const { return utf8_; }
  const std::u16string& utf16() const { return utf16_; }

 private:
  std::string utf8_;
  std::u16string utf16_;
};

class Number final : public Object {
 public:
  Number(CFNumberType type, std::int64_t i, double d, bool isFloat)
      : Object(numberType), type_(type), int_(i), double_(d), float_(isFloat) {}
  CFNumberType kind() const { return type_; }
  bool isFloat() const { return float_; }
  std::int64_t intValue() const { return int_; }
  double doubleValue() const { return double_; }

 private:
  CFNumberType type_;
  std::int64_t int_;
  double double_;
  bool float_;
};

class BooleanObject final : public Object {
 public:
  explicit BooleanObject(bool value) : Object(booleanType, true), value_(value) {}
  bool value() const { return value_; }

 private:
  bool value_;
};

class Array final : public Object {
 public:
  Array(bool retains) : Object(arrayType), retains_(retains) {}
  ~Array() override {
    if (retains_) {
      for (CFTypeRef item : items_) CFRelease(item);
    }
  }
  void append(CFTypeRef item) {
    if (retains_) CFRetain(item);
    items_.push_back(item);
  }
  const std::vector<CFTypeRef>& items() const { return items_; }

 private:
  bool retains_;
  std::vector<CFTypeRef> items_;
};

class Url final : public Object {
 public:
  explicit Url(CFStringRef string) : Object(urlType), string_(string) {}
  ~Url() override { CFRelease(string_); }
  CFStringRef string() const { return string_; }

 private:
  CFStringRef string_;  // owned
};

template <typename T>
const T* as(CFTypeRef ref, CFTypeID type, const char* what) {
  Object* object = checked(ref, what);
  if (object->type() != type) {
    fail(what, "called on an object of another kind", ref);
  }
  return static_cast<const T*>(object);
}

CFStringRef newString(std::string_view utf8) {
  std::u16string utf16;
  if (!decodeUtf8(utf8, &utf16)) return nullptr;
  return static_cast<CFStringRef>(
      (new String(std::string(utf8), std::move(utf16)))->ref());
}

CFNumberType normalised(CFNumberType type) {
  switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
      return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
      return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
      return kCFNumberSInt64Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
      return kCFNumberFloat64Type;
  }
  return kCFNumberSInt64Type;
}

template <typename T>
bool storeInt(const Number* n, void* out) {
  T value{};
  bool exact = true;
  if (n->isFloat()) {
    double d = n->doubleValue();
    if (std::isnan(d)) {
      value = 0;
      exact = false;
    } else if (d < static_cast<double>(std::numeric_limits<T>::min())) {
      value = std::numeric_limits<T>::min();
      exact = false;
    } else if (d >= -static_cast<double>(std::numeric_limits<T>::min())) {
      value = std::numeric_limits<T>::max();
      exact = false;
    } else {
      value = static_cast<T>(d);
      exact = static_cast<double>(value) == d;
    }
  } else {
    std::int64_t i = n->intValue();
    value = static_cast<T>(i);
    exact = static_cast<std::int64_t>(value) == i;
  }
  std::memcpy(out, &value, sizeof value);
  return exact;
}

template <typename T>
bool storeFloat(const Number* n, void* out) {
  T value;
  if (n->isFloat()) {
    // Out of the narrower type's range a conversion is undefined: saturate
    // to infinity, as the hardware would.
    const double d = n->doubleValue();
    const double limit = static_cast<double>(std::numeric_limits<T>::max());
    value = d > limit    ? std::numeric_limits<T>::infinity()
            : d < -limit ? -std::numeric_limits<T>::infinity()
                         : static_cast<T>(d);
  } else {
    value = static_cast<T>(n->intValue());
  }
  bool exact = n->isFloat()
                   ? (static_cast<double>(value) == n->doubleValue() ||
                      std::isnan(n->doubleValue()))
                   : static_cast<std::int64_t>(value) == n->intValue();
  std::memcpy(out, &value, sizeof value);
  return exact;
}

}  // namespace

Object::Object(CFTypeID type, bool immortal) : type_(type), immortal_(immortal) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.alive.insert(this);
  if (!immortal_) r.mortal.fetch_add(1, std::memory_order_relaxed);
}

Object::~Object() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.alive.erase(this);
  if (!immortal_) r.mortal.fetch_sub(1, std::memory_order_relaxed);
}

CFTypeID registerType(const char* name) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.typeNames.emplace_back(name);
  return r.typeNames.size() - 1;
}

const char* typeName(CFTypeID type) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return type < r.typeNames.size() ? r.typeNames[type].c_str() : "(unknown)";
}

long liveObjects() { return registry().mortal.load(std::memory_order_relaxed); }

std::string describeLiveObjects() {
  Registry& r = registry();
  std::map<std::string, long> byKind;
  {
    std::lock_guard<std::mutex> guard(r.lock);
    for (const Object* object : r.alive) {
      if (object->immortal()) continue;
      const CFTypeID type = object->type();
      ++byKind[type < r.typeNames.size() ? r.typeNames[type] : "(unknown)"];
    }
  }
  std::string text;
  for (const auto& [kind, count] : byKind) {
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + kind;
  }
  return text.empty() ? "none" : text;
}

Object* checked(CFTypeRef ref, const char* what) {
  if (ref == nullptr) fail(what, "called with NULL", ref);
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto* object = static_cast<const Object*>(ref);
  if (r.alive.find(object) == r.alive.end()) {
    fail(what, "the object is not alive (released too often, or never created)", ref);
  }
  return const_cast<Object*>(object);
}

std::string_view stringValue(CFStringRef ref) {
  return as<String>(ref, stringType, "CFString access")->utf8();
}

CFStringRef makeString(std::string_view utf8) {
  CFStringRef s = newString(utf8);
  if (s == nullptr) fail("makeString", "the text is not valid UTF-8", nullptr);
  return s;
}

CFURLRef makeUrl(std::string_view absolute) {
  return static_cast<CFURLRef>((new Url(makeString(absolute)))->ref());
}

CFNumberRef makeInt(std::int64_t value) {
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value);
}

CFNumberRef makeDouble(double value) {
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
}

CFArrayRef makeArray(const std::vector<CFTypeRef>& items) {
  auto* array = new Array(true);
  for (CFTypeRef item : items) array->append(item);
  return static_cast<CFArrayRef>(array->ref());
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  Object* object = checked(cf, "CFRetain");
  if (!object->immortal()) object->refs().fetch_add(1, std::memory_order_relaxed);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Object* object = checked(cf, "CFRelease");
  if (object->immortal()) return;
  if (object->refs().fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  Object* object = checked(cf, "CFGetRetainCount");
  return object->immortal() ? std::numeric_limits<CFIndex>::max()
                            : object->refs().load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return checked(cf, "CFGetTypeID")->type(); }

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  Object* a = checked(cf1, "CFEqual");
  Object* b = checked(cf2, "CFEqual");
  if (a == b) return true;
  if (a->type() != b->type()) return false;
  switch (a->type()) {
    case stringType:
      return static_cast<String*>(a)->utf8() == static_cast<String*>(b)->utf8();
    case numberType: {
      auto* x = static_cast<Number*>(a);
      auto* y = static_cast<Number*>(b);
      if (x->isFloat() || y->isFloat()) {
        double dx = x->isFloat() ? x->doubleValue() : static_cast<double>(x->intValue());
        double dy = y->isFloat() ? y->doubleValue() : static_cast<double>(y->intValue());
        return dx == dy;
      }
      return x->intValue() == y->intValue();
    }
    case urlType:
      return CFEqual(static_cast<Url*>(a)->string(), static_cast<Url*>(b)->string());
    case arrayType: {
      const auto& xs = static_cast<Array*>(a)->items();
      const auto& ys = static_cast<Array*>(b)->items();
      if (xs.size() != ys.size()) return false;
      for (std::size_t i = 0; i < xs.size(); ++i) {
        if (!CFEqual(xs[i], ys[i])) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

CFTypeID CFStringGetTypeID(void) { return stringType; }
CFTypeID CFNumberGetTypeID(void) { return numberType; }
CFTypeID CFBooleanGetTypeID(void) { return booleanType; }
CFTypeID CFArrayGetTypeID(void) { return arrayType; }
CFTypeID CFURLGetTypeID(void) { return urlType; }

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
  if (bytes == nullptr || numBytes < 0) return nullptr;
  std::string_view view(reinterpret_cast<const char*>(bytes),
                        static_cast<std::size_t>(numBytes));
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
    std::string bytes;
    if (encoding == kCFStringEncodingASCII) {
      if (cp > 0x7F) {
        if (lossByte == 0) break;
        bytes.push_back(static_cast<char>(lossByte));
      } else {
        bytes.push_back(static_cast<char>(cp));
      }
    } else if (encoding == kCFStringEncodingUTF8) {
      appendUtf8(bytes, cp);
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
  if (!decodeUtf8(cStr, &utf16)) fail("CFSTR", "the text is not valid UTF-8", nullptr);
  auto* s = new String(cStr, std::move(utf16), true);
  interned->emplace(cStr, s);
  return static_cast<CFStringRef>(s->ref());
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  if (valuePtr == nullptr) return nullptr;
  const CFNumberType kind = normalised(theType);
  std::int64_t i = 0;
  double d = 0;
  bool isFloat = false;
  switch (theType) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: {
      std::int8_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      i = v;
      break;
    }
    case kCFNumberSInt16Type:
    case kCFNumberShortType: {
      std::int16_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      i = v;
      break;
    }
    case kCFNumberSInt32Type:
    case kCFNumberIntType: {
      std::int32_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      i = v;
      break;
    }
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType: {
      std::int64_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      i = v;
      break;
    }
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: {
      float v;
      std::memcpy(&v, valuePtr, sizeof v);
      d = v;
      isFloat = true;
      break;
    }
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType: {
      std::memcpy(&d, valuePtr, sizeof d);
      isFloat = true;
      break;
    }
    default:
      return nullptr;
  }
  return static_cast<CFNumberRef>((new Number(kind, i, d, isFloat))->ref());
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  return as<Number>(number, numberType, "CFNumberGetType")->kind();
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  return as<Number>(number, numberType, "CFNumberIsFloatType")->isFloat();
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  const Number* n = as<Number>(number, numberType, "CFNumberGetValue");
  if (valuePtr == nullptr) return false;
  switch (normalised(theType)) {
    case kCFNumberSInt8Type:
      return storeInt<std::int8_t>(n, valuePtr);
    case kCFNumberSInt16Type:
      return storeInt<std::int16_t>(n, valuePtr);
    case kCFNumberSInt32Type:
      return storeInt<std::int32_t>(n, valuePtr);
    case kCFNumberSInt64Type:
      return storeInt<std::int64_t>(n, valuePtr);
    case kCFNumberFloat32Type:
      return storeFloat<float>(n, valuePtr);
    default:
      return storeFloat<double>(n, valuePtr);
  }
}

static const Object* booleanObject(bool value) {
  static auto* yes = new cfcore::BooleanObject(true);
  static auto* no = new cfcore::BooleanObject(false);
  return value ? yes : no;
}

const CFBooleanRef kCFBooleanTrue = static_cast<CFBooleanRef>(booleanObject(true)->ref());
const CFBooleanRef kCFBooleanFalse = static_cast<CFBooleanRef>(booleanObject(false)->ref());

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  return as<cfcore::BooleanObject>(boolean, booleanType, "CFBooleanGetValue")->value();
}

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
  CFMutableArrayRef array = CFArrayCreateMutable(allocator, numValues, callBacks);
  for (CFIndex i = 0; i < numValues; ++i) CFArrayAppendValue(array, values[i]);
  return array;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex,
                                       const CFArrayCallBacks* callBacks) {
  if (callBacks != nullptr && callBacks != &kCFTypeArrayCallBacks) {
    fail("CFArrayCreate", "only kCFTypeArrayCallBacks or NULL callbacks are supported",
         nullptr);
  }
  auto* array = new Array(callBacks != nullptr);
  return static_cast<CFMutableArrayRef>(const_cast<void*>(array->ref()));
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value) {
  const_cast<Array*>(as<Array>(theArray, arrayType, "CFArrayAppendValue"))->append(value);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  return static_cast<CFIndex>(as<Array>(theArray, arrayType, "CFArrayGetCount")->items().size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  const auto& items = as<Array>(theArray, arrayType, "CFArrayGetValueAtIndex")->items();
  if (idx < 0 || static_cast<std::size_t>(idx) >= items.size()) {
    fail("CFArrayGetValueAtIndex", "index out of bounds", theArray);
  }
  return items[static_cast<std::size_t>(idx)];
}

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

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  using namespace std::chrono;
  constexpr double sinceUnixEpoch = 978307200.0;  // 2001-01-01 00:00:00 UTC
  return duration<double>(system_clock::now().time_since_epoch()).count() - sinceUnixEpoch;
}

}  // extern "C"
