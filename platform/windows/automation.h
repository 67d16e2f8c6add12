// What the tests of the Windows accessibility backend reach: the automation
// object the page questions go through, replaced by one of their own (fakes
// of the automation interfaces, since Wine has no automation client).
#pragma once

#include "platform/windows/uia.h"

namespace platform::windows {

// From now on threads that ask use `automation` (a reference is kept until
// it is replaced); nullptr returns to the system's object. Each thread lets
// go of what it holds from the previous object at its next question.
void setAutomationForTesting(uia::IUIAutomation* automation);

}  // namespace platform::windows
