// CFNumber: integers of every width and floats, with the platform's rules for
// reading one back as another type (saturating, and saying when it is not
// exact).
#include "platform/cf/cf_number.h"

#include "platform/cf/cfcore.h"

#include "platform/cf/internal.h"
#include <cmath>
#include <cstring>
#include <limits>

namespace cfcore {
namespace {

class Number final : public Object {
 public:
  Number(CFNumberType type, std::int64_t i, double d, bool isFloat)
      : Object(numberType), type_(type), int_(i), double_(d), float_(isFloat) {}
  CFNumberType kind() const { return type_; }
  bool isFloat() const { return float_; }
  std::int64_t intValue() const { return int_; }
  double doubleValue() const { return double_; }
  // An integer and a float are equal when they are the same number.
  bool equals(const Object& other) const override {
    const auto& y = static_cast<const Number&>(other);
    if (float_ || y.float_) {
      const double dx = float_ ? double_ : static_cast<double>(int_);
      const double dy = y.float_ ? y.double_ : static_cast<double>(y.int_);
      return dx == dy;
    }
    return int_ == y.int_;
  }

 private:
  CFNumberType type_;
  std::int64_t int_;
  double double_;
  bool float_;
};

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
  bool exact = n->isFloat() ? (static_cast<double>(value) == n->doubleValue() ||
                               std::isnan(n->doubleValue()))
                            : static_cast<std::int64_t>(value) == n->intValue();
  std::memcpy(out, &value, sizeof value);
  return exact;
}

}  // namespace

CFNumberRef makeInt(std::int64_t value) {
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value);
}

CFNumberRef makeDouble(double value) {
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
}

}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID CFNumberGetTypeID(void) { return numberType; }

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

}  // extern "C"
