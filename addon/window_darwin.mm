// AppKit side of the module. Built with ARC: the strong locals below keep the
// view and its window alive for the length of the call and are released when
// the function returns, whatever the caller does with the view meanwhile.
#include "window.h"

#import <AppKit/AppKit.h>
#include <objc/message.h>

bool preventActivation(void* view) {
  if (view == nullptr) {
    return false;
  }
  NSView* const held = (__bridge NSView*)view;
  NSWindow* const window = held.window;
  // The selector is private to AppKit, so it is looked up by name each time
  // rather than cached: a system that lacks it simply answers no below.
  SEL const selector = NSSelectorFromString(@"_setPreventsActivation:");
  if (window == nil || ![window respondsToSelector:selector]) {
    return false;
  }
  using SetFlag = void (*)(id, SEL, BOOL);
  reinterpret_cast<SetFlag>(objc_msgSend)(window, selector, YES);
  return true;
}
