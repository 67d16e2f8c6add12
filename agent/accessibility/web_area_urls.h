// The URLs of the web pages shown in an application's windows.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <string>
#include <vector>

namespace tondrel {

// Searches below each window of the application, breadth-first, for elements
// of role "AXWebArea" and answers their URLs in the order found, duplicates
// kept. Bounded by maxElements entries taken (windows included) and by
// maxDepth; nothing below a web area is searched. The application element is
// borrowed.
std::vector<std::string> webAreaUrls(AXUIElementRef application);

}  // namespace tondrel
