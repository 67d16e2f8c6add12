// URLs for backends.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string_view>

namespace cfcore {

// A new URL (+1) for an absolute URL's text.
CFURLRef makeUrl(std::string_view absolute);

}  // namespace cfcore
