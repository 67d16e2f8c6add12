// The window step inside a host that uses Xlib itself (as a GTK or Electron
// host does): the host's own error handlers must be back in place after each
// call, and must not hear of errors on the module's connection. Links the
// step directly, with the same libX11 the module opens at run time.
//
// Usage: handlers WINDOW-ID (on the display named by DISPLAY). The window is
// made this process's own first (its _NET_WM_PID), as the step takes no
// other. Prints one line per problem and exits 1, or prints "ok".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>

#include "window.h"

namespace {

int hostErrors = 0;

int hostErrorHandler(Display* /*display*/, XErrorEvent* /*error*/) {
  ++hostErrors;
  return 0;
}

int hostIOErrorHandler(Display* /*display*/) { std::exit(3); }

int problems = 0;

void expect(bool holds, const char* what) {
  if (!holds) {
    std::printf("%s\n", what);
    ++problems;
  }
}

void* handle(unsigned long id) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the step takes the id this way.
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: handlers WINDOW-ID\n");
    return 2;
  }
  unsigned long const window = std::strtoul(argv[1], nullptr, 10);

  // The host's connection, with its handlers.
  Display* const display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "handlers: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(hostErrorHandler);
  XSetIOErrorHandler(hostIOErrorHandler);
  long const pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  XSync(display, False);

  expect(preventActivation(handle(window)), "the window was not prepared");
  expect(!preventActivation(handle(0x1ffffff0)), "an id naming nothing answered true");
  expect(hostErrors == 0, "the host's handler heard of the module's errors");

  // The host's handlers are in place again, and still get the host's own
  // errors.
  expect(XSetErrorHandler(hostErrorHandler) == hostErrorHandler, "error handler not restored");
  expect(XSetIOErrorHandler(hostIOErrorHandler) == hostIOErrorHandler,
         "I/O error handler not restored");
  XMapWindow(display, 0x1ffffff0);
  XSync(display, False);
  expect(hostErrors == 1, "the host's handler missed an error of its own");

  XCloseDisplay(display);
  if (problems == 0) {
    std::printf("ok\n");
  }
  return problems == 0 ? 0 : 1;
}
