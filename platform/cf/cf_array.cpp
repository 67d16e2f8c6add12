// CFArray: an ordered list that retains what it holds when made with the CF
// type callbacks (and holds plain pointers with none).
#include "platform/cf/cf_array.h"

#include "platform/cf/cfcore.h"

#include "platform/cf/internal.h"
#include <vector>

namespace cfcore {
namespace {

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
  bool equals(const Object& other) const override {
    const auto& ys = static_cast<const Array&>(other).items_;
    if (items_.size() != ys.size()) return false;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (!CFEqual(items_[i], ys[i])) return false;
    }
    return true;
  }

 private:
  bool retains_;
  std::vector<CFTypeRef> items_;
};

}  // namespace

CFArrayRef makeArray(const std::vector<CFTypeRef>& items) {
  auto* array = new Array(true);
  for (CFTypeRef item : items) array->append(item);
  return static_cast<CFArrayRef>(array->ref());
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID CFArrayGetTypeID(void) { return arrayType; }

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
  CFMutableArrayRef array = CFArrayCreateMutable(allocator, numValues, callBacks);
  for (CFIndex i = 0; i < numValues; ++i) CFArrayAppendValue(array, values[i]);
  return array;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks* callBacks) {
  if (callBacks != nullptr && callBacks != &kCFTypeArrayCallBacks) {
    fail("CFArrayCreate", "only kCFTypeArrayCallBacks or NULL callbacks are supported", nullptr);
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

}  // extern "C"
