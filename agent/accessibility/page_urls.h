// Page URLs of one application.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "agent/accessibility/request_bounds.h"

namespace tondrel {

// The URLs of the web pages in the windows of the application with this pid.
// Switches the application's accessibility on for the length of the query when
// it is not on already, and walks its windows on a fixed schedule of attempts
// and 0.3-second waits until one finds something, within the request's bounds:
// nothing is asked once the deadline has passed, no walk or wait starts once
// it would pass, and a walk cut by it answers what it found. What this query
// switched on is switched off again, deadline or not. Blocks the calling thread throughout; never
// fails.
std::vector<std::string> pageUrls(pid_t pid, RequestBounds& bounds);

}  // namespace tondrel
