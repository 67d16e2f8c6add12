// X11 side of the module. On Linux the host hands over the id of an X11
// window (what Electron's getNativeWindowHandle() gives there), and the
// window is told never to take the input focus:
//
//  - WM_HINTS input False (the window's other hints are kept), so the window
//    manager does not give it the focus, on a click or otherwise;
//  - WM_TAKE_FOCUS removed from WM_PROTOCOLS (the other protocols are kept),
//    so the window manager does not offer the focus to the client either;
//  - _NET_WM_USER_TIME 0 (on the window the client names for it in
//    _NET_WM_USER_TIME_WINDOW as well), so a window not yet mapped is not
//    focused when it is.
//
// libX11 is loaded at run time, so the module loads on machines without any X
// library, where every call answers false. Each call opens its own connection
// to the display and closes it again. Calls are rare (once per window), and a
// connection kept open would need care the host never asked for: it would
// hold a socket in the host process that nobody reads, outlive an X server
// restart and then fail on first use, and belong to whichever thread happened
// to call first. Opening one costs a few round trips to the server, which
// is nothing next to how rarely it happens.
//
// Xlib reports protocol errors (a window id that names no window, a window
// destroyed meanwhile) through a process-wide handler whose default ends the
// process. Around its own requests the module installs a handler of its own
// that records errors on its connection and hands any other connection's
// errors to the handler it replaced, and restores that handler afterwards.
// A connection lost halfway (the X server ending) ends the process the same
// way; where libX11 lets a client survive that (1.7 and later), the module
// treats it alike, as a failed call.
#include "window.h"

#include <dlfcn.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

// The tests build a copy that looks for a library no machine has.
#ifndef MORVANE_X11_LIBRARY
#define MORVANE_X11_LIBRARY "libX11.so.6"
#endif

namespace {

// The part of libX11 the module uses, resolved by name once.
struct Xlib {
  bool loaded = false;
  decltype(&XOpenDisplay) openDisplay = nullptr;
  decltype(&XCloseDisplay) closeDisplay = nullptr;
  decltype(&XSetErrorHandler) setErrorHandler = nullptr;
  decltype(&XSetIOErrorHandler) setIOErrorHandler = nullptr;
  // Missing before libX11 1.7; a lost connection then still ends the process.
  decltype(&XSetIOErrorExitHandler) setIOErrorExitHandler = nullptr;
  decltype(&XSync) sync = nullptr;
  decltype(&XFree) free = nullptr;
  decltype(&XInternAtoms) internAtoms = nullptr;
  decltype(&XGetWindowAttributes) getWindowAttributes = nullptr;
  decltype(&XGetWMHints) getWMHints = nullptr;
  decltype(&XSetWMHints) setWMHints = nullptr;
  decltype(&XGetWMProtocols) getWMProtocols = nullptr;
  decltype(&XSetWMProtocols) setWMProtocols = nullptr;
  decltype(&XGetWindowProperty) getWindowProperty = nullptr;
  decltype(&XChangeProperty) changeProperty = nullptr;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

Xlib loadXlib() {
  Xlib x;
  // Never closed: the library may be the host's own copy, and the module
  // stays loaded for the life of the process anyway.
  void* library = dlopen(MORVANE_X11_LIBRARY, RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) {
    return x;
  }
  x.loaded = resolve(library, "XOpenDisplay", x.openDisplay) &&
             resolve(library, "XCloseDisplay", x.closeDisplay) &&
             resolve(library, "XSetErrorHandler", x.setErrorHandler) &&
             resolve(library, "XSync", x.sync) &&
             resolve(library, "XFree", x.free) &&
             resolve(library, "XInternAtoms", x.internAtoms) &&
             resolve(library, "XGetWindowAttributes", x.getWindowAttributes) &&
             resolve(library, "XGetWMHints", x.getWMHints) &&
             resolve(library, "XSetWMHints", x.setWMHints) &&
             resolve(library, "XGetWMProtocols", x.getWMProtocols) &&
             resolve(library, "XSetWMProtocols", x.setWMProtocols) &&
             resolve(library, "XGetWindowProperty", x.getWindowProperty) &&
             resolve(library, "XChangeProperty", x.changeProperty) &&
             resolve(library, "XSetIOErrorHandler", x.setIOErrorHandler);
  resolve(library, "XSetIOErrorExitHandler", x.setIOErrorExitHandler);
  return x;
}

const Xlib& xlib() {
  static const Xlib x = loadXlib();
  return x;
}

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool waylandSession() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return isSet("WAYLAND_DISPLAY") ||
         (type != nullptr && std::strcmp(type, "wayland") == 0);
}

// The connection whose errors the handler below records. Atomics because
// another thread of the host may raise an error on its own connection while
// the handler is installed.
std::atomic<Display*> ownDisplay{nullptr};
std::atomic<XErrorHandler> replacedHandler{nullptr};
std::atomic<XIOErrorHandler> replacedIOHandler{nullptr};
std::atomic<bool> requestFailed{false};

int recordError(Display* display, XErrorEvent* error) {
  if (display == ownDisplay.load()) {
    requestFailed = true;
    return 0;
  }
  XErrorHandler const replaced = replacedHandler.load();
  return replaced != nullptr ? replaced(display, error) : 0;
}

// A lost connection. Returning from here leads Xlib on to the connection's
// exit handler, which for the module's own connection does nothing; every
// later request on it then fails quietly.
int recordLostConnection(Display* display) {
  if (display == ownDisplay.load()) {
    requestFailed = true;
    return 0;
  }
  XIOErrorHandler const replaced = replacedIOHandler.load();
  return replaced != nullptr ? replaced(display) : 0;
}

void stayAfterLostConnection(Display* /*display*/, void* /*data*/) {}

// Xlib's handler is one per process, so two threads of the host calling at
// once (worker threads each load the module) take turns.
std::mutex handlerTurn;

// One connection with the module's error handler installed, for one call.
class Connection {
 public:
  explicit Connection(const Xlib& x) : x_(x), turn_(handlerTurn) {
    display_ = x_.openDisplay(nullptr);
    if (display_ == nullptr) {
      return;
    }
    requestFailed = false;
    ownDisplay = display_;
    replacedHandler = x_.setErrorHandler(recordError);
    if (x_.setIOErrorExitHandler != nullptr) {
      x_.setIOErrorExitHandler(display_, stayAfterLostConnection, nullptr);
      replacedIOHandler = x_.setIOErrorHandler(recordLostConnection);
    }
  }

  ~Connection() {
    if (display_ == nullptr) {
      return;
    }
    // Closing flushes, so the handler stays until the connection is gone.
    x_.closeDisplay(display_);
    x_.setErrorHandler(replacedHandler.load());
    replacedHandler = nullptr;
    if (x_.setIOErrorExitHandler != nullptr) {
      x_.setIOErrorHandler(replacedIOHandler.load());
      replacedIOHandler = nullptr;
    }
    ownDisplay = nullptr;
  }

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }

  // Waits until the server has answered every request so far; true when
  // none of them failed.
  bool settled() const {
    x_.sync(display_, False);
    return !requestFailed.load();
  }

 private:
  const Xlib& x_;
  std::lock_guard<std::mutex> turn_;
  Display* display_ = nullptr;
};

enum AtomIndex { kProtocols, kTakeFocus, kUserTime, kUserTimeWindow, kWmPid, kAtomCount };

// Reads a property holding one 32-bit item of the given type; false when the
// window has no such property or the request failed.
bool readCardinal(const Xlib& x, Display* display, Window window, Atom property, Atom type,
                  unsigned long& value) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int const status = x.getWindowProperty(display, window, property, 0, 1, False, type,
                                         &actualType, &actualFormat, &count, &remaining, &data);
  bool const found = status == Success && data != nullptr && actualType == type &&
                     actualFormat == 32 && count == 1;
  if (found) {
    // Xlib hands 32-bit items over as longs.
    std::memcpy(&value, data, sizeof value);
  }
  if (data != nullptr) {
    x.free(data);
  }
  return found;
}

bool makeNonActivating(const Xlib& x, Display* display, Window window, bool waylandSession,
                       const Connection& connection) {
  // A round trip first: a window id that names nothing fails here (the
  // error comes instead of the reply), before anything is written.
  XWindowAttributes attributes;
  if (x.getWindowAttributes(display, window, &attributes) == 0 || requestFailed.load()) {
    return false;
  }

  char name0[] = "WM_PROTOCOLS";
  char name1[] = "WM_TAKE_FOCUS";
  char name2[] = "_NET_WM_USER_TIME";
  char name3[] = "_NET_WM_USER_TIME_WINDOW";
  char name4[] = "_NET_WM_PID";
  char* names[kAtomCount] = {name0, name1, name2, name3, name4};
  Atom atoms[kAtomCount] = {};
  if (x.internAtoms(display, names, kAtomCount, False, atoms) == 0) {
    return false;
  }

  // In a Wayland session the handle may be a Wayland surface's number rather
  // than an X window id, and the same number can name another application's
  // window on the compositor's X server. Only a window that belongs to this
  // process (an X11 host running through XWayland) is touched there.
  if (waylandSession) {
    unsigned long pid = 0;
    if (!readCardinal(x, display, window, atoms[kWmPid], XA_CARDINAL, pid) ||
        pid != static_cast<unsigned long>(getpid())) {
      return false;
    }
  }

  // Input False, every other hint as it was.
  XWMHints* const current = x.getWMHints(display, window);
  XWMHints hints;
  std::memset(&hints, 0, sizeof hints);
  if (current != nullptr) {
    hints = *current;
    x.free(current);
  }
  hints.flags |= InputHint;
  hints.input = False;
  x.setWMHints(display, window, &hints);

  // WM_TAKE_FOCUS out, the other protocols kept in their order. The property
  // is only written when it changes.
  Atom* protocols = nullptr;
  int count = 0;
  if (x.getWMProtocols(display, window, &protocols, &count) != 0 && protocols != nullptr) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      if (protocols[i] != atoms[kTakeFocus]) {
        protocols[kept++] = protocols[i];
      }
    }
    if (kept != count) {
      x.setWMProtocols(display, window, protocols, kept);
    }
    x.free(protocols);
  }

  // A user time of 0 asks the window manager not to focus the window when it
  // is mapped. Clients that update their user time often keep it on a
  // separate window named in _NET_WM_USER_TIME_WINDOW, which the window
  // manager then reads instead.
  long const zero = 0;
  auto const* zeroBytes = reinterpret_cast<const unsigned char*>(&zero);
  x.changeProperty(display, window, atoms[kUserTime], XA_CARDINAL, 32, PropModeReplace, zeroBytes,
                   1);
  unsigned long timeWindow = 0;
  if (readCardinal(x, display, window, atoms[kUserTimeWindow], XA_WINDOW, timeWindow) &&
      timeWindow != None && timeWindow != window) {
    x.changeProperty(display, static_cast<Window>(timeWindow), atoms[kUserTime], XA_CARDINAL, 32,
                     PropModeReplace, zeroBytes, 1);
  }

  return connection.settled();
}

}  // namespace

bool preventActivation(void* view) {
  // The handle carries an X window id. Resource ids have their top three
  // bits clear, so anything else cannot name a window.
  auto const id = reinterpret_cast<std::uintptr_t>(view);
  if (id == 0 || id > 0x1fffffffU) {
    return false;
  }
  // Without a display the X library is not even loaded.
  if (!isSet("DISPLAY")) {
    return false;
  }
  bool const wayland = waylandSession();
  const Xlib& x = xlib();
  if (!x.loaded) {
    return false;
  }
  Connection const connection(x);
  if (connection.display() == nullptr) {
    return false;
  }
  return makeNonActivating(x, connection.display(), static_cast<Window>(id), wayland, connection);
}
