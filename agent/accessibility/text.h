// Text across the CoreFoundation boundary.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "agent/cf_ref.h"

// The string as UTF-8; nothing when it holds what UTF-8 cannot carry (a lone
// surrogate), since half a string would be a different string.
std::optional<std::string> utf8Text(CFStringRef string);

// A new platform string for the UTF-8 text; empty when the text is not UTF-8.
CFRef<CFStringRef> platformString(std::string_view utf8);
