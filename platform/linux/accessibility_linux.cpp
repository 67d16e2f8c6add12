// The accessibility answers on a Linux desktop, over AT-SPI.
//
// An application element stands for the AT-SPI application that process
// `pid` registered; it is looked for when first needed, and again at each
// read until it is found, since an application that was only just switched on
// registers a moment later. Without one every read of the tree fails.
//
//   windows        the application's children (its top-level windows)
//   children       the object's children
//   a shown page   a document of web content that is showing, in a parent
//                  that is showing (hidden, preloaded documents and those of
//                  background tabs are not pages)
//   its URL        the document's address ("DocURL", else "URI")
//   manual switch  the session's accessibility switch (org.a11y.Status
//                  IsEnabled), so that what was on stays on for a running
//                  screen reader; offered on the application element of a
//                  running process only
//   enhanced UI    not offered: there is nothing to switch
//
// The timeout given for the application element bounds every call made
// through it and through every element reached from it (libatspi may wait
// twice that long on its direct connection to an application, since it can
// start a wait over once). Once one of them goes unanswered the application
// counts as hung, and the remaining reads through those elements fail at once:
// a hung application costs one unanswered call, not one per element.
//
// Identity: libatspi keeps one object per accessible object of an
// application for as long as anything holds it, so two elements are the same
// when they hold the same object.
#include "platform/accessibility.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/accessibility_atspi.h"

namespace platform::accessibility {
namespace {

namespace atspi = platform::atspi;

// How long the accessibility bus may take to answer whether it is there.
constexpr int busTimeoutMs = 1000;

struct Application {
  Application(pid_t p, int timeout) : pid(p), timeoutMs(timeout) {}
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application() { atspi::release(root); }

  pid_t pid;
  int timeoutMs;
  atspi::Node root = nullptr;  // once found
  bool hung = false;
};

}  // namespace

// An element: the application itself (no node of its own) or one object of
// its tree, holding one reference to that object.
class Element {
 public:
  Element(std::shared_ptr<Application> application, atspi::Node node)
      : application_(std::move(application)), node_(node) {}
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  ~Element() { atspi::release(node_); }

  Application& application() const { return *application_; }
  const std::shared_ptr<Application>& shared() const { return application_; }
  bool isApplication() const { return node_ == nullptr; }
  atspi::Node node() const { return node_; }

 private:
  std::shared_ptr<Application> application_;
  atspi::Node node_;
};

namespace {

bool processRunning(pid_t pid) {
  if (pid <= 0) return false;
  struct stat info {};
  return stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0;
}

// Whether a call that went to the application was answered; an unanswered
// one marks the application as hung.
bool settle(Application& application, atspi::Outcome outcome) {
  if (outcome == atspi::Outcome::timedOut) application.hung = true;
  return outcome == atspi::Outcome::ok;
}

// The object the element stands for, finding the application's first.
atspi::Node nodeOf(const Element& element) {
  Application& application = element.application();
  if (application.hung) return nullptr;
  if (!element.isApplication()) return element.node();
  if (application.root == nullptr &&
      !settle(application,
              atspi::findApplication(application.pid, application.timeoutMs, &application.root))) {
    return nullptr;
  }
  return application.root;
}

// Absent when the read fails.
std::optional<ElementList> childrenOf(const Element& element, std::size_t limit,
                                      std::chrono::steady_clock::time_point deadline) {
  const atspi::Node node = nodeOf(element);
  if (node == nullptr) return std::nullopt;
  ElementList list;
  if (limit == 0) return list;
  std::vector<atspi::Node> found;
  Application& application = element.application();
  if (!settle(application, atspi::children(node, application.timeoutMs, limit, deadline, &found))) {
    return std::nullopt;
  }
  list.reserve(found.size());
  // Each element takes over the reference the read handed out.
  for (atspi::Node child : found) list.push_back(ElementPtr(new Element(element.shared(), child)));
  return list;
}

// Whether the text can stand as a URL: not empty, and no character a URL
// cannot hold (controls, spaces, quotes, angle brackets and the like, or
// anything past ASCII).
bool isUrl(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) return false;
  }
  return true;
}

}  // namespace

void ReleaseElement::operator()(Element* element) const { delete element; }

bool sameElement(const Element& a, const Element& b) {
  return a.node() == b.node() && a.application().pid == b.application().pid;
}

std::size_t elementHash(const Element& element) {
  return std::hash<const void*>()(element.node()) ^
         static_cast<std::size_t>(element.application().pid);
}

bool trusted() { return atspi::busAnswers(busTimeoutMs); }

ElementPtr applicationElement(pid_t pid, double timeoutSeconds) {
  // Rounded up to whole milliseconds, at most what libatspi can be given.
  const double ms = std::ceil(timeoutSeconds * 1000.0);
  const int bounded = !(ms >= 1.0) ? 1
                      : ms > static_cast<double>(std::numeric_limits<int>::max())
                          ? std::numeric_limits<int>::max()
                          : static_cast<int>(ms);
  return ElementPtr(new Element(std::make_shared<Application>(pid, bounded), nullptr));
}

std::optional<ElementList> windows(const Element& application) {
  if (!application.isApplication()) return std::nullopt;
  // A few windows, fetched whole: the walk's deadline is checked before it.
  return childrenOf(application, std::numeric_limits<std::size_t>::max(),
                    std::chrono::steady_clock::time_point::max());
}

ElementList children(const Element& element, std::size_t limit,
                     std::chrono::steady_clock::time_point deadline) {
  std::optional<ElementList> list = childrenOf(element, limit, deadline);
  return list ? std::move(*list) : ElementList{};
}

bool isShownPage(const Element& element) {
  const atspi::Node node = nodeOf(element);
  if (node == nullptr) return false;
  std::string role;
  Application& application = element.application();
  return settle(application, atspi::role(node, application.timeoutMs, &role)) &&
         role == atspi::shownWebDocument;
}

std::optional<std::string> pageUrl(const Element& element) {
  const atspi::Node node = nodeOf(element);
  if (node == nullptr) return std::nullopt;
  std::string address;
  Application& application = element.application();
  if (!settle(application, atspi::documentUrl(node, application.timeoutMs, &address))) {
    return std::nullopt;
  }
  if (!isUrl(address)) return std::nullopt;
  return address;
}

// The switch is the session's, not the application's; it is offered on the
// application element of a running process only, so that a request for a
// process that is gone switches nothing.
std::optional<bool> readSwitch(const Element& application, Switch which) {
  if (which != Switch::manualAccessibility || !application.isApplication()) return std::nullopt;
  if (!processRunning(application.application().pid)) return std::nullopt;
  return atspi::accessibilityEnabled(application.application().timeoutMs);
}

bool writeSwitch(const Element& application, Switch which, bool on) {
  if (which != Switch::manualAccessibility || !application.isApplication()) return false;
  if (!processRunning(application.application().pid)) return false;
  return atspi::setAccessibilityEnabled(on, application.application().timeoutMs);
}

}  // namespace platform::accessibility
