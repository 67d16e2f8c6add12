// Accessibility elements as simulated CoreFoundation objects, and the building
// of attribute values from their descriptions.
#pragma once

#include "sim/accessibility.h"
#include "platform/cf/cfcore.h"

namespace sim::ax {

// An element of application `pid`: the application itself when `node` is
// empty, otherwise the node's element. Each read makes new ones, as the
// platform does; they keep their node's description alive. Two elements are
// equal, as on the platform, when they stand for the same thing: the same
// application, and the same node (or both the application).
class Element final : public cfcore::Object {
 public:
  Element(pid_t pid, NodePtr node);
  pid_t pid() const { return pid_; }
  const NodePtr& node() const { return node_; }
  bool equals(const cfcore::Object& other) const override;
  CFHashCode hash() const override;

 private:
  pid_t pid_;
  NodePtr node_;
};

CFTypeID elementType();

// The element behind a reference, or a stop with a message naming `what` when
// the reference is not a live element.
const Element* asElement(AXUIElementRef ref, const char* what);

// A new object (+1) for the value, elements belonging to `pid`; NULL for none.
CFTypeRef makeValue(const Value& value, pid_t pid);

// Whether a read answering this counts as true: a success with the boolean
// true or a number equal to 1.
bool readsTrue(const Attribute& attribute);

}  // namespace sim::ax
