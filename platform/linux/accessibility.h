// Accessibility elements of the Linux desktop as objects of the CF core. The
// Accessibility calls themselves are declared by the framework header.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include "platform/cf/cfcore.h"

namespace platform::accessibility {

namespace cf = ::cfcore;

// The kind of the elements the Accessibility calls hand out.
CFTypeID elementType();

}  // namespace platform::accessibility
