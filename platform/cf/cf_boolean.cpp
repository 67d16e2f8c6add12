// CFBoolean: the two immortal values, true and false; equal only to
// themselves.
#include "platform/cf/cfcore.h"

#include "platform/cf/internal.h"

namespace cfcore {
namespace {

class BooleanObject final : public Object {
 public:
  explicit BooleanObject(bool value) : Object(booleanType, true), value_(value) {}
  bool value() const { return value_; }

 private:
  bool value_;
};

const Object* booleanObject(bool value) {
  static auto* yes = new BooleanObject(true);
  static auto* no = new BooleanObject(false);
  return value ? yes : no;
}

}  // namespace
}  // namespace cfcore

using namespace cfcore;

extern "C" {

CFTypeID CFBooleanGetTypeID(void) { return booleanType; }

const CFBooleanRef kCFBooleanTrue = static_cast<CFBooleanRef>(booleanObject(true)->ref());
const CFBooleanRef kCFBooleanFalse = static_cast<CFBooleanRef>(booleanObject(false)->ref());

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  return as<BooleanObject>(boolean, booleanType, "CFBooleanGetValue")->value();
}

}  // extern "C"
