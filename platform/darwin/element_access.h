// Reading attributes of other applications' accessibility elements through
// the Accessibility API.
//
// Every failure of the platform ends here as the lack of a value: an empty
// holder, an empty list or false, so no AX error code travels further than
// the Mac's accessibility answers (accessibility_darwin.cpp). Elements passed
// in are borrowed; what comes back is owned.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/darwin/cf_ref.h"

namespace platform::darwin {

using ElementList = std::vector<CFRef<AXUIElementRef>>;

// The attribute's value; empty when the read fails or succeeds without one.
CFRef<CFTypeRef> attribute(AXUIElementRef element, std::string_view name);

// The elements of "AXChildren"; empty on any failure.
ElementList children(AXUIElementRef element);

// True only for a value that converts to the boolean true.
bool isTrue(CFTypeRef value);

// The conversions every attribute value goes through. Each answers nothing
// for an absent value or one of another kind.

// A list whose every item is an element, in the platform's order; a list with
// any other item does not convert at all.
std::optional<ElementList> elementList(CFTypeRef value);
std::optional<std::string> stringValue(CFTypeRef value);
// The absolute string of a URL object; a string, even one spelling a URL, is
// not one.
std::optional<std::string> urlValue(CFTypeRef value);
// The boolean objects, or a number equal to 1 (true) or 0 (false).
std::optional<bool> booleanValue(CFTypeRef value);

// Sets the attribute; true when the platform answers success.
bool setAttribute(AXUIElementRef element, std::string_view name, CFTypeRef value);

}  // namespace platform::darwin
