#include "agent/accessibility/web_area_urls.h"

#include <cstdint>

#include "agent/accessibility/element_access.h"
#include "agent/globals.h"

namespace tondrel {

namespace {

struct Entry {
  CFRef<AXUIElementRef> element;
  std::int64_t depth;
};

}  // namespace

std::vector<std::string> webAreaUrls(AXUIElementRef application) {
  std::vector<std::string> urls;
  std::optional<ElementList> windows = elementList(attribute(application, "AXWindows").get());
  if (!windows) return urls;

  // Append-only, read by position: taking an entry copies nothing, and every
  // element appended stays held until the walk returns.
  std::vector<Entry> work;
  work.reserve(windows->size());
  for (CFRef<AXUIElementRef>& window : *windows) work.push_back({std::move(window), 0});

  std::int64_t cursor = 0;
  while (cursor < static_cast<std::int64_t>(work.size()) && cursor < maxElements) {
    // Copied out, since appending below may move the entries.
    const AXUIElementRef element = work[static_cast<std::size_t>(cursor)].element.get();
    const std::int64_t depth = work[static_cast<std::size_t>(cursor)].depth;
    ++cursor;

    const std::optional<std::string> role = stringValue(attribute(element, "AXRole").get());
    if (role && *role == "AXWebArea") {
      if (std::optional<std::string> url = urlValue(attribute(element, "AXURL").get())) {
        urls.push_back(std::move(*url));
      }
      continue;  // a page's own content is not searched for further pages
    }
    if (depth >= maxDepth) continue;
    for (CFRef<AXUIElementRef>& child : children(element)) {
      work.push_back({std::move(child), depth + 1});
    }
  }
  return urls;
}

}  // namespace tondrel
