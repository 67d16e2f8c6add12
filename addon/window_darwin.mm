// AppKit side of the module, built with ARC. The view and its window are held
// by strong locals of precise lifetime, so both stay retained until the
// function returns even though neither is used after the selector is sent.
#include "window.h"

#import <AppKit/AppKit.h>
#include <objc/message.h>

static bool preventActivationInPool(void* view) {
  NS_VALID_UNTIL_END_OF_SCOPE NSView* held = (__bridge NSView*)view;
  NS_VALID_UNTIL_END_OF_SCOPE NSWindow* window = held.window;
  // The selector is private to AppKit, so it is looked up by name on every
  // call rather than cached: a system without it simply answers no below,
  // as does a view that is in no window (a message to nil answers NO).
  SEL const selector = NSSelectorFromString(@"_setPreventsActivation:");
  if (![window respondsToSelector:selector]) {
    return false;
  }
  using SetFlag = void (*)(id, SEL, BOOL);
  reinterpret_cast<SetFlag>(objc_msgSend)(window, selector, YES);
  return true;
}

bool preventActivation(void* view) {
  if (view == nullptr) {
    return false;
  }
  // A plain Node main thread has no autorelease pool, and AppKit autoreleases
  // inside these calls: without a pool of our own that would leak every time.
  @autoreleasepool {
    return preventActivationInPool(view);
  }
}
