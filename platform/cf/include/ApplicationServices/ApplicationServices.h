// Stand-in for the ApplicationServices framework on builds without it.
//
// Declares the Accessibility calls the agent makes, with the platform's names,
// types and result codes. The backend defines them; its elements are objects of
// the CF core (platform/cf/cfcore.h) of a kind of its own, reference counted and
// counted while alive like every other (the simulated Mac's:
// sim/accessibility_objects.h).
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __AXUIElement* AXUIElementRef;

typedef SInt32 AXError;
enum {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorInvalidUIElementObserver = -25203,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotificationUnsupported = -25207,
  kAXErrorNotImplemented = -25208,
  kAXErrorNotificationAlreadyRegistered = -25209,
  kAXErrorNotificationNotRegistered = -25210,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
  kAXErrorParameterizedAttributeUnsupported = -25213,
  kAXErrorNotEnoughPrecision = -25214
};

// Whether this process holds the Accessibility permission; asks nothing.
Boolean AXIsProcessTrusted(void);

CFTypeID AXUIElementGetTypeID(void);

// A new element (+1) for the application with this process id, for any id.
AXUIElementRef AXUIElementCreateApplication(pid_t pid);

// On success stores the value (+1, possibly NULL) in *value. On failure *value
// is normally left alone, but may have been filled in all the same.
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);

// Bounds how long calls made through this element wait for the application.
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

#ifdef __cplusplus
}
#endif
