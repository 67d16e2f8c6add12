// Strings for backends: the text of a CFString, and new ones from UTF-8.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string_view>

namespace cfcore {

// The string's text; the reference must be a live CFString, or the program
// stops with a message.
std::string_view stringValue(CFStringRef ref);
// A new string (+1); the text must be well-formed UTF-8.
CFStringRef makeString(std::string_view utf8);

}  // namespace cfcore
