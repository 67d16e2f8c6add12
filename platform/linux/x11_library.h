// libX11, opened at run time: the agent and the window module start on
// machines without any X library, and then simply do without X.
//
// Every libX11 function either of them calls is listed once, below; the
// table of function pointers and the code that fills it are made from that
// list, so a function used without being listed does not compile.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// REQUIRED(name): the library is unusable without it.
// OPTIONAL(name): newer than some libX11 still in use; null when missing.
// clang-format off
#define TONDREL_X11_FUNCTIONS(REQUIRED, OPTIONAL) \
  REQUIRED(XOpenDisplay)                          \
  REQUIRED(XCloseDisplay)                         \
  REQUIRED(XConnectionNumber)                     \
  REQUIRED(XSetErrorHandler)                      \
  REQUIRED(XSetIOErrorHandler)                    \
  REQUIRED(XSync)                                 \
  REQUIRED(XFree)                                 \
  REQUIRED(XInternAtoms)                          \
  REQUIRED(XQueryTree)                            \
  REQUIRED(XGetClassHint)                         \
  REQUIRED(XGetWindowAttributes)                  \
  REQUIRED(XGetWMHints)                           \
  REQUIRED(XSetWMHints)                           \
  REQUIRED(XGetWMProtocols)                       \
  REQUIRED(XSetWMProtocols)                       \
  REQUIRED(XGetWindowProperty)                    \
  REQUIRED(XChangeProperty)                       \
  /* libX11 1.7: a lost connection need not end the process. */ \
  OPTIONAL(XSetIOErrorExitHandler)
// clang-format on

namespace x11 {

// The functions of one loaded libX11, named as the library names them.
struct Library {
#define TONDREL_X11_MEMBER(name) decltype(&::name) name = nullptr;
  TONDREL_X11_FUNCTIONS(TONDREL_X11_MEMBER, TONDREL_X11_MEMBER)
#undef TONDREL_X11_MEMBER
  // Every required function was found.
  bool loaded = false;
};

// Opens the library by its file name (normally "libX11.so.6") and resolves
// the list. The library stays loaded for the life of the process: it may be
// the host's own copy. Call once and keep the result.
Library load(const char* fileName);

}  // namespace x11
