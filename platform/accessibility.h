// The accessibility questions the page query asks of a platform: the
// elements of other applications' windows, which of them show web pages,
// and the pages' addresses.
//
// Every failure of the platform ends here as the lack of an answer (an empty
// list, false, nothing), so the walk never sees an error code. Each call that
// reaches another application waits for its answer, bounded by the timeout
// given when its application element was made: a call made through that
// element, or through any element reached from it, waits at most about that
// long where the platform lets a bound be set on them all; where it bounds
// only the application element (the Mac), calls on the other elements wait
// as long as the system's default allows. A backend that learns an
// application does not answer may fail its later calls at once.
//
// All calls of one request come from one thread (the page reader), never the
// main thread; a backend whose library is not thread-safe may rely on it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::accessibility {

// One element of an application's accessibility tree (the application
// itself, a window, anything inside one), as the backend holds it. Defined
// by each backend; the logic only holds elements, compares them and lets
// them go.
class Element;

// Destroying an element releases whatever the backend held for it.
struct ReleaseElement {
  void operator()(Element* element) const;
};
using ElementPtr = std::unique_ptr<Element, ReleaseElement>;
using ElementList = std::vector<ElementPtr>;

// Identity: whether two elements stand for the same object of the same
// application, although each call may hand out a new element for it. Equal
// elements have equal hashes. A walk uses these to visit each object once,
// however often the tree lists it (an element that is its own child).
bool sameElement(const Element& a, const Element& b);
std::size_t elementHash(const Element& element);

// Whether this process may read other applications' trees. Asks the system
// each time (the user may grant or revoke it while the agent runs).
bool trusted();

// The element of the application that process `pid` is, with its calls
// bounded by `timeoutSeconds` (> 0). Null only when no element can be made at
// all; an element for a pid that has no tree (or no process) is handed out
// all the same, and every read of it fails.
ElementPtr applicationElement(pid_t pid, double timeoutSeconds);

// The application's windows, in the platform's order. Absent when the read
// fails or answers anything but a list of elements.
std::optional<ElementList> windows(const Element& application);

// The element's children, in the platform's order, at most `limit` of them
// (the first ones); empty on any failure. A backend that fetches children
// one call at a time stops at the limit, and starts no call after `deadline`
// (answering the children fetched by then); one that fetches them all in one
// call drops the rest at once.
ElementList children(const Element& element, std::size_t limit,
                     std::chrono::steady_clock::time_point deadline);

// Whether the element presents a web page that is shown: a document of web
// content, not one preloaded in the background. False on any failure.
bool isShownPage(const Element& element);

// The absolute address of the page the element presents, as text. Absent
// when the read fails or the element has no address that is a URL.
std::optional<std::string> pageUrl(const Element& element);

// The switches an application may need before it exposes its tree to
// assistive programs. A backend without one answers nothing for it and
// refuses to set it.
enum class Switch {
  // Asks the application (or, where the platform has only that, the whole
  // session) to expose its tree.
  manualAccessibility,
  // Tells the application an assistive program drives it.
  enhancedUserInterface,
};

// What the switch reads now on the application element; absent when the read
// fails or answers anything but a truth value (the boolean objects, or a
// number that is exactly 1 or 0, where the platform has numbers).
std::optional<bool> readSwitch(const Element& application, Switch which);

// Sets the switch; true when the platform answers success.
bool writeSwitch(const Element& application, Switch which, bool on);

}  // namespace platform::accessibility
