// Arrays for backends.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <vector>

namespace cfcore {

// A new array (+1) holding the items in order, each retained.
CFArrayRef makeArray(const std::vector<CFTypeRef>& items);

}  // namespace cfcore
