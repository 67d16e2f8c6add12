// The accessibility answers on the Mac, through the Accessibility API: an
// element is an AXUIElementRef; a shown page is an element of role
// "AXWebArea"; its address is its "AXURL" (a URL object, made absolute); the
// switches are the application's "AXManualAccessibility" and
// "AXEnhancedUserInterface".
#include "platform/accessibility.h"

#include <ApplicationServices/ApplicationServices.h>

#include <string_view>

#include "platform/darwin/cf_ref.h"
#include "platform/darwin/element_access.h"

namespace platform::accessibility {

namespace darwin = platform::darwin;

// One reference to an element of the Accessibility API.
class Element {
 public:
  explicit Element(CFRef<AXUIElementRef> ref) : ref_(std::move(ref)) {}
  AXUIElementRef get() const { return ref_.get(); }

 private:
  CFRef<AXUIElementRef> ref_;
};

namespace {

ElementPtr wrap(CFRef<AXUIElementRef> ref) { return ElementPtr(new Element(std::move(ref))); }

std::string_view switchName(Switch which) {
  switch (which) {
    case Switch::manualAccessibility:
      return "AXManualAccessibility";
    case Switch::enhancedUserInterface:
      return "AXEnhancedUserInterface";
  }
  return {};
}

}  // namespace

void ReleaseElement::operator()(Element* element) const { delete element; }

bool sameElement(const Element& a, const Element& b) { return CFEqual(a.get(), b.get()) != 0; }

std::size_t elementHash(const Element& element) {
  return static_cast<std::size_t>(CFHash(element.get()));
}

bool trusted() { return AXIsProcessTrusted() != 0; }

ElementPtr applicationElement(pid_t pid, double timeoutSeconds) {
  auto application = adoptCF(AXUIElementCreateApplication(pid));
  if (!application) return nullptr;
  // Only this element's calls are bounded: the system-wide default stays, and
  // the elements reached from it keep the default as well.
  AXUIElementSetMessagingTimeout(application.get(), static_cast<float>(timeoutSeconds));
  return wrap(std::move(application));
}

std::optional<ElementList> windows(const Element& application) {
  std::optional<darwin::ElementList> found =
      darwin::elementList(darwin::attribute(application.get(), "AXWindows").get());
  if (!found) return std::nullopt;
  ElementList list;
  list.reserve(found->size());
  for (CFRef<AXUIElementRef>& window : *found) list.push_back(wrap(std::move(window)));
  return list;
}

ElementList children(const Element& element, std::size_t limit,
                     std::chrono::steady_clock::time_point /*deadline*/) {
  ElementList list;
  if (limit == 0) return list;
  // The API answers the whole list in one call; what is past the limit is
  // let go at once.
  darwin::ElementList found = darwin::children(element.get());
  const std::size_t kept = found.size() < limit ? found.size() : limit;
  list.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) list.push_back(wrap(std::move(found[i])));
  return list;
}

bool isShownPage(const Element& element) {
  const std::optional<std::string> role =
      darwin::stringValue(darwin::attribute(element.get(), "AXRole").get());
  return role && *role == "AXWebArea";
}

std::optional<std::string> pageUrl(const Element& element) {
  return darwin::urlValue(darwin::attribute(element.get(), "AXURL").get());
}

std::optional<bool> readSwitch(const Element& application, Switch which) {
  return darwin::booleanValue(darwin::attribute(application.get(), switchName(which)).get());
}

bool writeSwitch(const Element& application, Switch which, bool on) {
  return darwin::setAttribute(application.get(), switchName(which),
                              on ? kCFBooleanTrue : kCFBooleanFalse);
}

}  // namespace platform::accessibility
