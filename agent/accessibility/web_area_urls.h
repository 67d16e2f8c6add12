// The URLs of the web pages shown in an application's windows.
#pragma once

#include <string>
#include <vector>

#include "agent/accessibility/request_bounds.h"
#include "platform/accessibility.h"

namespace tondrel {

// Searches below each window of the application, breadth-first, for elements
// that present a shown web page and answers their URLs in the order found;
// two pages at the same address are both answered, but an element met again
// (one that lists itself or an ancestor among its children, or one listed in
// two places) is visited only once. Bounded by maxElements entries held
// (windows included), by maxDepth, and by the request's bounds: the children
// it may still fetch, and its deadline, at which the walk stops and answers
// what it found. Nothing below a page is searched. The application element
// is borrowed.
std::vector<std::string> webAreaUrls(const platform::accessibility::Element& application,
                                     RequestBounds& bounds);

}  // namespace tondrel
