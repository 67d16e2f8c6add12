// A plain X11 client for the window tests: one top-level window that asks for
// the focus the usual way (WM_HINTS input True, WM_TAKE_FOCUS and
// WM_DELETE_WINDOW in WM_PROTOCOLS), and reports on standard output what
// happens to it. Commands, one per line on standard input:
//
//   map       map the window; answers "mapped" once the window manager has
//             finished with it
//   sync      answers "synced" once the window manager has handled every
//             event that reached it before the command
//   state     answers "state focus=<id> active=<id>" (XGetInputFocus and the
//             root's _NET_ACTIVE_WINDOW, in decimal; 0 for none)
//   destroy   destroys the window; answers "destroyed"
//   grab N    grabs the server, so it serves no other client, for N seconds;
//             answers "grabbed" once the grab is in place and "ungrabbed"
//             once it is released
//
// Unasked it writes "press <button>" for a button pressed in the window and
// "focus-in" when the window gets the focus. The first line is
// "window <id> [user-time-window <id>]", written once the window exists (and,
// unless --unmapped is given, is mapped).
//
// Options: --unmapped, --name NAME, --pid PID (the _NET_WM_PID to claim,
// this process by default), --user-time-window (keep the user time on a
// separate window named in _NET_WM_USER_TIME_WINDOW).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Client {
  Display* display = nullptr;
  Window window = None;
  // An unmapped window whose frame extents the window manager is asked for,
  // to learn when it has caught up.
  Window probe = None;
  Atom frameExtents = None;
  Atom requestFrameExtents = None;
  Atom activeWindow = None;
  Atom protocols = None;
  Atom takeFocus = None;
  bool mapped = false;
  bool destroyed = false;
};

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void report(Client& c, const XEvent& event) {
  switch (event.type) {
    case ButtonPress:
      if (event.xbutton.window == c.window) {
        say("press " + std::to_string(event.xbutton.button));
      }
      break;
    case FocusIn:
      if (event.xfocus.window == c.window && event.xfocus.detail != NotifyPointer) {
        say("focus-in");
      }
      break;
    case MapNotify:
      if (event.xmap.window == c.window) {
        c.mapped = true;
      }
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == c.window) {
        c.destroyed = true;
      }
      break;
    case ClientMessage:
      if (event.xclient.message_type == c.protocols &&
          static_cast<Atom>(event.xclient.data.l[0]) == c.takeFocus) {
        say("take-focus");
      }
      break;
    default:
      break;
  }
}

// Handles events until `done` holds.
template <typename Done>
void pumpUntil(Client& c, Done done) {
  while (!done()) {
    XEvent event;
    XNextEvent(c.display, &event);
    report(c, event);
  }
}

// The next event, waiting at most `timeoutMs`; false when none came.
bool nextEvent(Client& c, XEvent& event, int timeoutMs) {
  if (XPending(c.display) == 0) {
    pollfd fd = {ConnectionNumber(c.display), POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0 || XPending(c.display) == 0) {
      return false;
    }
  }
  XNextEvent(c.display, &event);
  return true;
}

// The window manager handles its events in order, so once it has answered a
// frame extents request sent now, it has handled everything before it.
// Answers false if it did not answer within `timeoutMs`.
bool askWindowManager(Client& c, int timeoutMs) {
  XDeleteProperty(c.display, c.probe, c.frameExtents);
  XEvent request;
  std::memset(&request, 0, sizeof request);
  request.xclient.type = ClientMessage;
  request.xclient.window = c.probe;
  request.xclient.message_type = c.requestFrameExtents;
  request.xclient.format = 32;
  XSendEvent(c.display, DefaultRootWindow(c.display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(c.display);
  XEvent event;
  while (nextEvent(c, event, timeoutMs)) {
    if (event.type == PropertyNotify && event.xproperty.window == c.probe &&
        event.xproperty.atom == c.frameExtents && event.xproperty.state == PropertyNewValue) {
      return true;
    }
    report(c, event);
  }
  return false;
}

void syncWithWindowManager(Client& c) {
  while (!askWindowManager(c, 10000)) {
    std::fprintf(stderr, "testwin: the window manager does not answer\n");
  }
}

unsigned long activeWindow(Client& c) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  unsigned long active = 0;
  if (XGetWindowProperty(c.display, DefaultRootWindow(c.display), c.activeWindow, 0, 1, False,
                         XA_WINDOW, &type, &format, &count, &remaining, &data) == Success &&
      data != nullptr && type == XA_WINDOW && format == 32 && count == 1) {
    std::memcpy(&active, data, sizeof active);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return active;
}

void command(Client& c, const std::string& line) {
  if (line == "map") {
    XMapWindow(c.display, c.window);
    pumpUntil(c, [&] { return c.mapped; });
    syncWithWindowManager(c);
    say("mapped");
  } else if (line == "sync") {
    syncWithWindowManager(c);
    say("synced");
  } else if (line == "state") {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(c.display, &focus, &revert);
    say("state focus=" + std::to_string(focus) + " active=" + std::to_string(activeWindow(c)));
  } else if (line == "destroy") {
    XDestroyWindow(c.display, c.window);
    pumpUntil(c, [&] { return c.destroyed; });
    say("destroyed");
  } else if (line.rfind("grab ", 0) == 0) {
    XGrabServer(c.display);
    XSync(c.display, False);
    say("grabbed");
    // Held whatever this process is told meanwhile, as a client busy with
    // its grab would.
    sleep(static_cast<unsigned int>(std::strtoul(line.c_str() + 5, nullptr, 10)));
    XUngrabServer(c.display);
    XSync(c.display, False);
    say("ungrabbed");
  } else {
    std::fprintf(stderr, "testwin: unknown command %s\n", line.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool unmapped = false;
  bool userTimeWindow = false;
  std::string name = "testwin";
  long pid = getpid();
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    if (arg == "--unmapped") {
      unmapped = true;
    } else if (arg == "--user-time-window") {
      userTimeWindow = true;
    } else if (arg == "--name" && i + 1 < argc) {
      name = argv[++i];
    } else if (arg == "--pid" && i + 1 < argc) {
      pid = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr,
                   "usage: testwin [--unmapped] [--name NAME] [--pid PID] [--user-time-window]\n");
      return 2;
    }
  }

  Client c;
  c.display = XOpenDisplay(nullptr);
  if (c.display == nullptr) {
    std::fprintf(stderr, "testwin: cannot open the display\n");
    return 1;
  }
  Display* const d = c.display;
  Window const root = DefaultRootWindow(d);
  c.frameExtents = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
  c.requestFrameExtents = XInternAtom(d, "_NET_REQUEST_FRAME_EXTENTS", False);
  c.activeWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  c.protocols = XInternAtom(d, "WM_PROTOCOLS", False);
  c.takeFocus = XInternAtom(d, "WM_TAKE_FOCUS", False);

  c.window = XCreateSimpleWindow(d, root, 0, 0, 240, 180, 0, BlackPixel(d, DefaultScreen(d)),
                                 WhitePixel(d, DefaultScreen(d)));
  XSelectInput(d, c.window, ButtonPressMask | FocusChangeMask | StructureNotifyMask);
  XStoreName(d, c.window, name.c_str());
  XClassHint classHint;
  std::string className = "Testwin";
  classHint.res_name = name.data();
  classHint.res_class = className.data();
  XSetClassHint(d, c.window, &classHint);
  XWMHints hints;
  std::memset(&hints, 0, sizeof hints);
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XSetWMHints(d, c.window, &hints);
  Atom protocols[] = {XInternAtom(d, "WM_DELETE_WINDOW", False), c.takeFocus};
  XSetWMProtocols(d, c.window, protocols, 2);
  Atom const wmPid = XInternAtom(d, "_NET_WM_PID", False);
  XChangeProperty(d, c.window, wmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);

  Window timeWindow = None;
  if (userTimeWindow) {
    timeWindow = XCreateSimpleWindow(d, c.window, 0, 0, 1, 1, 0, 0, 0);
    Atom const userTime = XInternAtom(d, "_NET_WM_USER_TIME", False);
    long const now = 1;
    XChangeProperty(d, timeWindow, userTime, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&now), 1);
    XChangeProperty(d, c.window, XInternAtom(d, "_NET_WM_USER_TIME_WINDOW", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&timeWindow), 1);
  }

  c.probe = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(d, c.probe, PropertyChangeMask);
  // A window manager announces itself before it handles events, and one
  // that is still starting may drop requests made meanwhile (a window mapped
  // then would never appear), so ask until it answers.
  for (int tries = 0; !askWindowManager(c, 100); ++tries) {
    if (tries == 100) {
      std::fprintf(stderr, "testwin: no window manager answers\n");
      return 1;
    }
  }

  std::string first = "window " + std::to_string(c.window);
  if (timeWindow != None) {
    first += " user-time-window " + std::to_string(timeWindow);
  }
  if (unmapped) {
    XSync(d, False);
  } else {
    XMapWindow(d, c.window);
    pumpUntil(c, [&] { return c.mapped; });
    syncWithWindowManager(c);
  }
  say(first);

  std::string pending;
  for (;;) {
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      report(c, event);
    }
    pollfd fds[2] = {{0, POLLIN, 0}, {ConnectionNumber(d), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      continue;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
      char buffer[256];
      ssize_t const n = read(0, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        std::string const line = pending.substr(0, end);
        pending.erase(0, end + 1);
        command(c, line);
      }
    }
    if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) {
      break;
    }
  }
  XCloseDisplay(d);
  return 0;
}
