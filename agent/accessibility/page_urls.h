// Page URLs of one application.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tondrel {

// The URLs of the web pages in the windows of the application with this pid.
// Switches the application's accessibility on for the length of the query when
// it is not on already, and walks its windows on a fixed schedule of attempts
// and 0.3-second waits until one finds something. Blocks the calling thread
// throughout; never fails.
std::vector<std::string> pageUrls(pid_t pid);

}  // namespace tondrel
