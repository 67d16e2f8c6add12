// Numbers for backends.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>

namespace cfcore {

CFNumberRef makeInt(std::int64_t value);  // +1
CFNumberRef makeDouble(double value);     // +1

}  // namespace cfcore
