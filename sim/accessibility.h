// The simulated Mac's Accessibility side: the permission, and per application
// the two switch attributes and the window trees that its element answers with.
//
// The world is a description, not a set of live objects: every read hands out
// fresh CoreFoundation objects built from it (elements included, see
// sim/accessibility_objects.h), so the live object count only ever measures
// what the agent holds. Everything here is
// thread-safe; the agent reads on its page reader while a test sets up.
//
// What the calls answer:
// - AXIsProcessTrusted: the permission (setTrusted), false at first.
// - Without the permission every read and set fails with
//   kAXErrorAPIDisabled; creating an application element and setting its
//   messaging timeout still work (the agent touches neither without it).
// - An element of a pid without an Application answers every read and set with
//   kAXErrorCannotComplete, as for a process that is gone.
// - An application element answers "AXWindows" (see Application),
//   "AXManualAccessibility" and "AXEnhancedUserInterface" (see Switch), and
//   any name in Application::attributes; other names fail with
//   kAXErrorAttributeUnsupported.
// - An element below it answers what its Node says.
//
// Trace entries (sim/trace.h), one JSON object each:
//   {"event":"walk","pid":P,"walk":K}            a read of "AXWindows", the Kth for P
//   {"event":"set-attribute","pid":P,"attribute":A,"value":V,"result":R}
//        V is true/false for a boolean, null for any other value; R the result
//   {"event":"messaging-timeout","pid":P,"seconds":S,"element":"application"|"child"}
// Waits are traced by the run loop: {"event":"wait","seconds":0.3}.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::ax {

struct Node;
using NodePtr = std::shared_ptr<Node>;

// One attribute value, described. An element value is an element of the same
// application for the node given.
struct Value {
  enum class Kind { none, string, url, integer, real, boolean, element, array };
  Kind kind = Kind::none;
  std::string text;          // string (valid UTF-8), url (any text)
  std::int64_t integer = 0;  // integer: a CFNumber of 64-bit integer kind
  double real = 0;           // real: a CFNumber of 64-bit float kind
  bool boolean = false;      // boolean: kCFBooleanTrue or kCFBooleanFalse
  NodePtr element;           // element
  std::vector<Value> items;  // array; items of kind none are left out

  static Value none() { return {}; }
  static Value ofString(std::string text);
  static Value ofUrl(std::string text);  // a URL object, not a string
  static Value ofInteger(std::int64_t value);
  static Value ofReal(double value);
  static Value ofBoolean(bool value);
  static Value ofElement(NodePtr node);
  static Value ofArray(std::vector<Value> items);
  static Value ofElements(const std::vector<NodePtr>& nodes);  // an array of elements
};

// What one read of an attribute answers: the result code and the value stored
// in the caller's place. A failing result with a value stores the value too,
// as the platform is allowed to.
struct Attribute {
  AXError result = kAXErrorSuccess;
  Value value;
};
Attribute answer(Value value);                        // success with the value
Attribute failure(AXError result = kAXErrorFailure);  // failure, nothing stored

// An element below an application (a window or anything inside one).
struct Node {
  // Read as given. A name missing here fails with kAXErrorAttributeUnsupported,
  // except "AXChildren", which then answers the elements of `children` (an
  // empty array when there are none).
  std::map<std::string, Attribute, std::less<>> attributes;
  std::vector<NodePtr> children;
};

// A node whose "AXRole" answers `role`.
NodePtr element(std::string role, std::vector<NodePtr> children = {});
// A node with role "AXWebArea" whose "AXURL" answers a URL object of `url`.
NodePtr webArea(std::string url, std::vector<NodePtr> children = {});

// "AXManualAccessibility" or "AXEnhancedUserInterface" of an application.
struct Switch {
  // What a read answers until a set succeeds; afterwards a read answers the
  // boolean last set.
  Attribute read = failure(kAXErrorAttributeUnsupported);
  // Whether a set succeeds. A set of anything but a boolean always fails with
  // kAXErrorIllegalArgument.
  bool settable = false;
  AXError refusal = kAXErrorAttributeUnsupported;  // the result of a refused set
};

struct Application {
  pid_t pid = 0;
  Switch manualAccessibility;
  Switch enhancedUserInterface;
  // What "AXWindows" answers: the elements of these nodes...
  std::vector<NodePtr> windows;
  // ...unless this is set: then exactly this (a failing read, no value, a
  // value of the wrong kind).
  std::optional<Attribute> windowsRead;
  // The windows appear from this walk (read of "AXWindows") on, counted from
  // when the application was set; earlier walks answer an empty array.
  long windowsFromWalk = 1;
  // While neither switch reads true, walks answer an empty array, as
  // applications do that build their tree only on request.
  bool windowsNeedSwitch = false;
  // Further attributes of the application element, read as given.
  std::map<std::string, Attribute, std::less<>> attributes;
  // Real seconds every read of this application's elements takes before it
  // answers, as an application that is slow to answer but never times out.
  double readSeconds = 0;
};

void setTrusted(bool trusted);

// Adds the application, replacing one with the same pid; its walks are counted
// from zero again.
void setApplication(Application application);
void removeApplication(pid_t pid);

// Forgets every application, the permission (false) and the counters.
void reset();

// What a read of the switch attribute `name` of `pid` answers now, or nothing
// when there is no such application or name.
std::optional<Attribute> switchState(pid_t pid, std::string_view name);

// Counters since the last reset.
long trustChecks();
long applicationElementsCreated();
long reads();  // every AXUIElementCopyAttributeValue
long reads(std::string_view attribute);
long sets();            // every AXUIElementSetAttributeValue
long walks(pid_t pid);  // reads of "AXWindows" of the pid's element

}  // namespace sim::ax
