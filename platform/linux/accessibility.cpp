// The Accessibility calls on a Linux desktop, answered over AT-SPI.
//
// An application element stands for the AT-SPI application that process
// `pid` registered; it is looked for when first needed, and again at each
// read until it is found, since an application that was only just switched on
// registers a moment later. Without one every read of the tree fails.
//
// Attributes:
//   AXWindows               the application's children (its top-level windows)
//   AXChildren              the object's children
//   AXRole                  "AXWebArea" for a web document that is showing,
//                           AT-SPI's role name otherwise
//   AXURL                   the document's address ("DocURL", else "URI")
//   AXManualAccessibility   the session's accessibility switch, on the
//                           application element of a running process; writable
//   AXEnhancedUserInterface not supported: there is nothing to switch
//
// The messaging timeout set on the application element bounds every call made
// through it and through every element reached from it (libatspi may wait
// twice that long on its direct connection to an application, since it can
// start a wait over once). Once one of them goes unanswered the application
// counts as hung, and the remaining reads through those elements fail at once:
// a hung application costs one unanswered call, not one per element.
#include "platform/linux/accessibility.h"

#include <ApplicationServices/ApplicationServices.h>

#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/accessibility_atspi.h"

namespace platform::accessibility {
namespace {

namespace atspi = platform::atspi;

// How long a call may wait when no timeout was set: libatspi's own default.
constexpr int defaultTimeoutMs = 800;
// How long the accessibility bus may take to answer whether it is there.
constexpr int busTimeoutMs = 1000;

struct Application {
  explicit Application(pid_t p) : pid(p) {}
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application() { atspi::release(root); }

  pid_t pid;
  int timeoutMs = defaultTimeoutMs;
  atspi::Node root = nullptr;  // once found
  bool hung = false;
};

CFTypeID elementTypeId() {
  static const CFTypeID type = cf::registerType("AXUIElement");
  return type;
}

// An element: the application itself (no node of its own) or one object of
// its tree, holding one reference to that object.
class Element final : public cf::Object {
 public:
  Element(std::shared_ptr<Application> application, atspi::Node node)
      : Object(elementTypeId()), application_(std::move(application)), node_(node) {}
  ~Element() override { atspi::release(node_); }

  Application& application() const { return *application_; }
  const std::shared_ptr<Application>& shared() const { return application_; }
  bool isApplication() const { return node_ == nullptr; }
  atspi::Node node() const { return node_; }

  int timeoutMs() const { return ownTimeoutMs_ > 0 ? ownTimeoutMs_ : application_->timeoutMs; }
  void setTimeoutMs(int ms) {
    if (isApplication()) {
      application_->timeoutMs = ms > 0 ? ms : defaultTimeoutMs;
    } else {
      ownTimeoutMs_ = ms;
    }
  }

 private:
  std::shared_ptr<Application> application_;
  atspi::Node node_;
  int ownTimeoutMs_ = 0;  // none: the application's
};

Element* asElement(AXUIElementRef ref) {
  if (ref == nullptr || CFGetTypeID(ref) != elementTypeId()) return nullptr;
  // The CF core hands out its objects as references; this one is an Element.
  return static_cast<Element*>(const_cast<cf::Object*>(static_cast<const cf::Object*>(
      static_cast<const void*>(ref))));
}

std::string attributeName(CFStringRef name) {
  if (name == nullptr || CFGetTypeID(name) != CFStringGetTypeID()) return {};
  char buffer[64];
  if (!CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8)) return {};
  return buffer;
}

bool processRunning(pid_t pid) {
  if (pid <= 0) return false;
  struct stat info {};
  return stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0;
}

// The result of a call that went to the application: an unanswered one marks
// the application as hung.
AXError settle(Application& application, atspi::Outcome outcome) {
  switch (outcome) {
    case atspi::Outcome::ok:
      return kAXErrorSuccess;
    case atspi::Outcome::timedOut:
      application.hung = true;
      return kAXErrorCannotComplete;
    case atspi::Outcome::failed:
      break;
  }
  return kAXErrorCannotComplete;
}

// The object the element stands for, finding the application's first.
AXError nodeOf(const Element& element, atspi::Node* node) {
  Application& application = element.application();
  if (application.hung) return kAXErrorCannotComplete;
  if (!element.isApplication()) {
    *node = element.node();
    return kAXErrorSuccess;
  }
  if (application.root == nullptr) {
    const AXError result = settle(
        application, atspi::findApplication(application.pid, element.timeoutMs(), &application.root));
    if (result != kAXErrorSuccess) return result;
  }
  *node = application.root;
  return kAXErrorSuccess;
}

AXError copyChildren(const Element& element, CFTypeRef* value) {
  atspi::Node node = nullptr;
  if (const AXError result = nodeOf(element, &node); result != kAXErrorSuccess) return result;
  std::vector<atspi::Node> found;
  const AXError result =
      settle(element.application(), atspi::children(node, element.timeoutMs(), &found));
  if (result != kAXErrorSuccess) return result;
  CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault,
                                                 static_cast<CFIndex>(found.size()),
                                                 &kCFTypeArrayCallBacks);
  for (atspi::Node child : found) {
    // The element takes over the reference the read handed out.
    auto* made = new Element(element.shared(), child);
    CFArrayAppendValue(array, made->ref());
    CFRelease(made->ref());
  }
  *value = array;
  return kAXErrorSuccess;
}

AXError copyRole(const Element& element, CFTypeRef* value) {
  atspi::Node node = nullptr;
  if (const AXError result = nodeOf(element, &node); result != kAXErrorSuccess) return result;
  std::string name;
  const AXError result =
      settle(element.application(), atspi::role(node, element.timeoutMs(), &name));
  if (result != kAXErrorSuccess) return result;
  CFStringRef text = CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(),
                                               kCFStringEncodingUTF8);
  if (text == nullptr) return kAXErrorCannotComplete;
  *value = text;
  return kAXErrorSuccess;
}

AXError copyUrl(const Element& element, CFTypeRef* value) {
  atspi::Node node = nullptr;
  if (const AXError result = nodeOf(element, &node); result != kAXErrorSuccess) return result;
  std::string address;
  const AXError result =
      settle(element.application(), atspi::documentUrl(node, element.timeoutMs(), &address));
  if (result != kAXErrorSuccess) return result;
  CFStringRef text = CFStringCreateWithCString(kCFAllocatorDefault, address.c_str(),
                                               kCFStringEncodingUTF8);
  if (text == nullptr) return kAXErrorNoValue;
  CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, text, nullptr);
  CFRelease(text);
  // An address that is no URL is no value.
  if (url == nullptr) return kAXErrorNoValue;
  *value = url;
  return kAXErrorSuccess;
}

// The switch is the session's, not the application's; it is offered on the
// application element of a running process only, so that a request for a
// process that is gone switches nothing.
AXError copySwitch(const Element& element, CFTypeRef* value) {
  if (!element.isApplication()) return kAXErrorAttributeUnsupported;
  if (!processRunning(element.application().pid)) return kAXErrorCannotComplete;
  const std::optional<bool> enabled = atspi::accessibilityEnabled(element.timeoutMs());
  if (!enabled) return kAXErrorCannotComplete;
  *value = CFRetain(*enabled ? kCFBooleanTrue : kCFBooleanFalse);
  return kAXErrorSuccess;
}

std::optional<bool> booleanOf(CFTypeRef value) {
  if (value == nullptr) return std::nullopt;
  if (CFGetTypeID(value) == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
  }
  return std::nullopt;
}

}  // namespace

CFTypeID elementType() { return elementTypeId(); }

}  // namespace platform::accessibility

using platform::accessibility::Element;

extern "C" {

Boolean AXIsProcessTrusted(void) {
  return platform::atspi::busAnswers(platform::accessibility::busTimeoutMs) ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void) { return platform::accessibility::elementType(); }

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  auto application = std::make_shared<platform::accessibility::Application>(pid);
  auto* element = new Element(std::move(application), nullptr);
  return static_cast<AXUIElementRef>(element->ref());
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef ref, CFStringRef attribute,
                                      CFTypeRef* value) {
  using namespace platform::accessibility;
  const Element* element = asElement(ref);
  if (element == nullptr || value == nullptr) return kAXErrorIllegalArgument;
  const std::string name = attributeName(attribute);
  if (name == "AXManualAccessibility") return copySwitch(*element, value);
  if (name == "AXWindows") {
    if (!element->isApplication()) return kAXErrorAttributeUnsupported;
    return copyChildren(*element, value);
  }
  if (name == "AXChildren") return copyChildren(*element, value);
  if (name == "AXRole") return copyRole(*element, value);
  if (name == "AXURL") return copyUrl(*element, value);
  return kAXErrorAttributeUnsupported;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef ref, CFStringRef attribute, CFTypeRef value) {
  using namespace platform::accessibility;
  const Element* element = asElement(ref);
  if (element == nullptr || value == nullptr) return kAXErrorIllegalArgument;
  if (attributeName(attribute) != "AXManualAccessibility" || !element->isApplication()) {
    return kAXErrorAttributeUnsupported;
  }
  const std::optional<bool> enabled = booleanOf(value);
  if (!enabled) return kAXErrorIllegalArgument;
  if (!processRunning(element->application().pid)) return kAXErrorCannotComplete;
  return platform::atspi::setAccessibilityEnabled(*enabled, element->timeoutMs())
             ? kAXErrorSuccess
             : kAXErrorCannotComplete;
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef ref, float timeoutInSeconds) {
  using namespace platform::accessibility;
  Element* element = asElement(ref);
  if (element == nullptr || !(timeoutInSeconds >= 0.0f)) return kAXErrorIllegalArgument;
  // Zero goes back to the default; anything else is rounded up to whole
  // milliseconds, at most what libatspi can be given.
  const double ms = std::ceil(static_cast<double>(timeoutInSeconds) * 1000.0);
  const int bounded =
      ms > static_cast<double>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                 : static_cast<int>(ms);
  element->setTimeoutMs(bounded);
  return kAXErrorSuccess;
}

}  // extern "C"
