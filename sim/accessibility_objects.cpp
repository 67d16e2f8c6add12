#include "sim/accessibility_objects.h"

#include "platform/cf/cf_number.h"
#include "platform/cf/cf_string.h"
#include "platform/cf/cf_url.h"

#include <cstdio>
#include <functional>
#include <cstdlib>

namespace sim::ax {

Value Value::ofString(std::string text) {
  Value v;
  v.kind = Kind::string;
  v.text = std::move(text);
  return v;
}

Value Value::ofUrl(std::string text) {
  Value v;
  v.kind = Kind::url;
  v.text = std::move(text);
  return v;
}

Value Value::ofInteger(std::int64_t value) {
  Value v;
  v.kind = Kind::integer;
  v.integer = value;
  return v;
}

Value Value::ofReal(double value) {
  Value v;
  v.kind = Kind::real;
  v.real = value;
  return v;
}

Value Value::ofBoolean(bool value) {
  Value v;
  v.kind = Kind::boolean;
  v.boolean = value;
  return v;
}

Value Value::ofElement(NodePtr node) {
  Value v;
  v.kind = Kind::element;
  v.element = std::move(node);
  return v;
}

Value Value::ofArray(std::vector<Value> items) {
  Value v;
  v.kind = Kind::array;
  v.items = std::move(items);
  return v;
}

Value Value::ofElements(const std::vector<NodePtr>& nodes) {
  std::vector<Value> items;
  items.reserve(nodes.size());
  for (const NodePtr& node : nodes) items.push_back(ofElement(node));
  return ofArray(std::move(items));
}

Attribute answer(Value value) { return {kAXErrorSuccess, std::move(value)}; }
Attribute failure(AXError result) { return {result, Value::none()}; }

NodePtr element(std::string role, std::vector<NodePtr> children) {
  auto node = std::make_shared<Node>();
  node->attributes["AXRole"] = answer(Value::ofString(std::move(role)));
  node->children = std::move(children);
  return node;
}

NodePtr webArea(std::string url, std::vector<NodePtr> children) {
  NodePtr node = element("AXWebArea", std::move(children));
  node->attributes["AXURL"] = answer(Value::ofUrl(std::move(url)));
  return node;
}

CFTypeID elementType() {
  static const CFTypeID type = cfcore::registerType("AXUIElement");
  return type;
}

Element::Element(pid_t pid, NodePtr node)
    : Object(elementType()), pid_(pid), node_(std::move(node)) {}

bool Element::equals(const cfcore::Object& other) const {
  const auto& element = static_cast<const Element&>(other);
  return pid_ == element.pid_ && node_ == element.node_;
}

CFHashCode Element::hash() const {
  return static_cast<CFHashCode>(std::hash<const Node*>()(node_.get())) ^
         static_cast<CFHashCode>(pid_);
}

const Element* asElement(AXUIElementRef ref, const char* what) {
  cfcore::Object* object = cfcore::checked(ref, what);
  if (object->type() != elementType()) {
    std::fprintf(stderr, "simulated Accessibility: %s: called with a %s, not an element\n", what,
                 cfcore::typeName(object->type()));
    std::abort();
  }
  return static_cast<const Element*>(object);
}

CFTypeRef makeValue(const Value& value, pid_t pid) {
  switch (value.kind) {
    case Value::Kind::none:
      return nullptr;
    case Value::Kind::string:
      return cfcore::makeString(value.text);
    case Value::Kind::url:
      return cfcore::makeUrl(value.text);
    case Value::Kind::integer:
      return cfcore::makeInt(value.integer);
    case Value::Kind::real:
      return cfcore::makeDouble(value.real);
    case Value::Kind::boolean:
      return value.boolean ? kCFBooleanTrue : kCFBooleanFalse;
    case Value::Kind::element:
      return value.element ? (new Element(pid, value.element))->ref() : nullptr;
    case Value::Kind::array: {
      CFMutableArrayRef array =
          CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
      for (const Value& item : value.items) {
        CFTypeRef made = makeValue(item, pid);
        if (made == nullptr) continue;
        CFArrayAppendValue(array, made);  // the array holds its own reference
        CFRelease(made);
      }
      return array;
    }
  }
  return nullptr;
}

bool readsTrue(const Attribute& attribute) {
  if (attribute.result != kAXErrorSuccess) return false;
  const Value& v = attribute.value;
  return (v.kind == Value::Kind::boolean && v.boolean) ||
         (v.kind == Value::Kind::integer && v.integer == 1) ||
         (v.kind == Value::Kind::real && v.real == 1.0);
}

}  // namespace sim::ax
