#include "agent/accessibility/web_area_urls.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "agent/globals.h"

namespace tondrel {

namespace {

namespace ax = platform::accessibility;

struct Entry {
  ax::ElementPtr element;
  std::int64_t depth;
};

struct Identity {
  std::size_t operator()(const ax::Element* element) const { return ax::elementHash(*element); }
};
struct SameElement {
  bool operator()(const ax::Element* a, const ax::Element* b) const {
    return ax::sameElement(*a, *b);
  }
};

// The elements appended so far, by identity. They point into the work list,
// whose elements stay where they are however the list grows.
using Seen = std::unordered_set<const ax::Element*, Identity, SameElement>;

}  // namespace

std::vector<std::string> webAreaUrls(const ax::Element& application, RequestBounds& bounds) {
  std::vector<std::string> urls;
  if (bounds.expired()) return urls;
  std::optional<ax::ElementList> windows = ax::windows(application);
  if (!windows) return urls;
  bounds.spendChildren(windows->size());

  // Append-only, read by position: taking an entry copies nothing, and every
  // element appended stays held until the walk returns. Never longer than the
  // entries a walk may take, so an element past them is not even fetched.
  const auto most = static_cast<std::size_t>(maxElements);
  std::vector<Entry> work;
  Seen seen;
  work.reserve(std::min(windows->size(), most));
  for (ax::ElementPtr& window : *windows) {
    if (work.size() == most) break;
    if (!seen.insert(window.get()).second) continue;
    work.push_back({std::move(window), 0});
  }

  for (std::size_t cursor = 0; cursor < work.size(); ++cursor) {
    // The deadline is checked before every element, each of which costs
    // calls to the application: what was found by then is the answer.
    if (bounds.expired()) break;
    const ax::Element& element = *work[cursor].element;
    const std::int64_t depth = work[cursor].depth;

    const bool page = ax::isShownPage(element);
    // Checked again between an element's two calls, so that at most one call
    // is under way when the deadline passes.
    if (bounds.expired()) break;
    if (page) {
      if (std::optional<std::string> url = ax::pageUrl(element)) urls.push_back(std::move(*url));
      continue;  // a page's own content is not searched for further pages
    }
    if (depth >= maxDepth) continue;
    const std::size_t limit = std::min(most - work.size(), bounds.childrenLeft());
    if (limit == 0) continue;
    ax::ElementList children = ax::children(element, limit, bounds.deadline());
    bounds.spendChildren(children.size());
    for (ax::ElementPtr& child : children) {
      if (!seen.insert(child.get()).second) continue;
      work.push_back({std::move(child), depth + 1});
    }
  }
  return urls;
}

}  // namespace tondrel
