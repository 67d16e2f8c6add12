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
// Only the calling process's own top-level windows are touched: a window
// whose _NET_WM_PID is another process's (or that has none), a window inside
// another window, and the root window answer false, and nothing is written
// to them. A window id is just a number any client can name, and the host
// has no business changing other applications' windows.
//
// The call never waits on the X server for more than a second. The X work
// runs on a thread of its own while the calling thread (the host's
// JavaScript thread) waits for it at most kWorkerTime. When the server has
// not answered by then (another client holds a server grab, or the display
// accepts connections and never answers), the call answers false. The
// module's connection is then cut, so the thread ends at once, where the
// server had answered the connection's setup and libX11 lets a process
// survive a lost connection (1.7 and later); otherwise the thread stays until
// the server answers or drops it. It reads everything it needs before it
// writes anything and looks, before the first write, whether the call it
// works for is still waiting, so a call that gave up before then never
// changes a window afterwards. One such thread runs at a time: a call made while
// the previous one's thread is still held waits for it within its own
// second, and answers false if it is still held then. So a server that
// never answers costs at most one thread and one socket, and no lock the
// next call needs is held by it.
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

#include "platform/linux/x11_library.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// The tests build a copy that looks for a library no machine has.
#ifndef MORVANE_X11_LIBRARY
#define MORVANE_X11_LIBRARY "libX11.so.6"
#endif

namespace {

// libX11's functions, from the list the agent shares, resolved once.
const x11::Library& xlib() {
  static const x11::Library x = x11::load(MORVANE_X11_LIBRARY);
  return x;
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

// The longest the calling thread waits for the X work, and then for the
// work's thread to end once its connection is cut: 0.9 s together, inside
// the bound the docs state (1 s), which leaves room for starting the thread
// and for a busy machine.
constexpr auto kWorkerTime = std::chrono::milliseconds(800);
constexpr auto kWindDown = std::chrono::milliseconds(100);

// One call's X work, shared by the calling thread and the thread doing it.
struct Job {
  Window window = None;
  std::string displayName;

  std::mutex lock;
  std::condition_variable changed;
  bool finished = false;
  bool result = false;
  // Set by the calling thread when it stopped waiting: nothing may be
  // written from then on.
  bool abandoned = false;
  // The connection's socket while it is open, for the calling thread to cut.
  int socket = -1;
  // The calling thread and the worker each hold the job; the last to let go
  // deletes it. (Counted by hand: std::shared_ptr would add symbols of the
  // C++ library to what the module exports.)
  std::atomic<int> holders{2};

  bool stillWanted() {
    std::lock_guard<std::mutex> guard(lock);
    return !abandoned;
  }
};

void letGo(Job* job) {
  if (job->holders.fetch_sub(1) == 1) {
    delete job;
  }
}

// Whether a thread doing X work is running; one at a time (see the top).
std::mutex workerLock;
std::condition_variable workerDone;
bool workerBusy = false;

// One connection with the module's error handler installed, for one call.
// Only the one worker thread makes these.
class Connection {
 public:
  Connection(const x11::Library& x, Job& job) : x_(x), job_(job) {
    display_ = x_.XOpenDisplay(job.displayName.c_str());
    if (display_ == nullptr) {
      return;
    }
    requestFailed = false;
    ownDisplay = display_;
    replacedHandler = x_.XSetErrorHandler(recordError);
    if (x_.XSetIOErrorExitHandler != nullptr) {
      x_.XSetIOErrorExitHandler(display_, stayAfterLostConnection, nullptr);
      replacedIOHandler = x_.XSetIOErrorHandler(recordLostConnection);
      // Only where a lost connection does not end the process may the
      // calling thread cut it.
      std::lock_guard<std::mutex> guard(job_.lock);
      job_.socket = x_.XConnectionNumber(display_);
    }
  }

  ~Connection() {
    if (display_ == nullptr) {
      return;
    }
    {
      // Not to be cut once closed: the number may then name another socket.
      std::lock_guard<std::mutex> guard(job_.lock);
      job_.socket = -1;
    }
    // Closing flushes, so the handler stays until the connection is gone.
    x_.XCloseDisplay(display_);
    x_.XSetErrorHandler(replacedHandler.load());
    replacedHandler = nullptr;
    if (x_.XSetIOErrorExitHandler != nullptr) {
      x_.XSetIOErrorHandler(replacedIOHandler.load());
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
    x_.XSync(display_, False);
    return !requestFailed.load();
  }

 private:
  const x11::Library& x_;
  Job& job_;
  Display* display_ = nullptr;
};

enum AtomIndex { kProtocols, kTakeFocus, kUserTime, kUserTimeWindow, kWmPid, kWmState, kAtomCount };

// Reads a property holding one 32-bit item of the given type; false when the
// window has no such property or the request failed.
bool readCardinal(const x11::Library& x, Display* display, Window window, Atom property, Atom type,
                  unsigned long& value) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int const status = x.XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType,
                                          &actualFormat, &count, &remaining, &data);
  bool const found = status == Success && data != nullptr && actualType == type &&
                     actualFormat == 32 && count == 1;
  if (found) {
    // Xlib hands 32-bit items over as longs.
    std::memcpy(&value, data, sizeof value);
  }
  if (data != nullptr) {
    x.XFree(data);
  }
  return found;
}

// Whether the window has the property at all, of any type.
bool hasProperty(const x11::Library& x, Display* display, Window window, Atom property) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int const status = x.XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType,
                                          &actualType, &actualFormat, &count, &remaining, &data);
  if (data != nullptr) {
    x.XFree(data);
  }
  return status == Success && actualType != None;
}

// The window's root and parent, by the first round trip of a call: a window
// id that names nothing fails here (the error comes instead of the reply),
// before anything is written.
bool readParent(const x11::Library& x, Display* display, Window window, Window& root,
                Window& parent) {
  Window* children = nullptr;
  unsigned int count = 0;
  if (x.XQueryTree(display, window, &root, &parent, &children, &count) == 0 ||
      requestFailed.load()) {
    return false;
  }
  if (children != nullptr) {
    x.XFree(children);
  }
  return true;
}

bool makeNonActivating(const x11::Library& x, Display* display, Window window, Job& job,
                       const Connection& connection) {
  char name0[] = "WM_PROTOCOLS";
  char name1[] = "WM_TAKE_FOCUS";
  char name2[] = "_NET_WM_USER_TIME";
  char name3[] = "_NET_WM_USER_TIME_WINDOW";
  char name4[] = "_NET_WM_PID";
  char name5[] = "WM_STATE";
  char* names[kAtomCount] = {name0, name1, name2, name3, name4, name5};
  Atom atoms[kAtomCount] = {};

  Window root = None;
  Window parent = None;
  if (!readParent(x, display, window, root, parent) || window == root || parent == None) {
    return false;
  }
  if (x.XInternAtoms(display, names, kAtomCount, False, atoms) == 0 || requestFailed.load()) {
    return false;
  }
  // A top-level window: a child of its root (not yet managed, or under a
  // window manager that does not reparent), or given WM_STATE by the window
  // manager that framed it. A window inside another (a toolkit's child
  // window) is neither.
  if (parent != root && !hasProperty(x, display, window, atoms[kWmState])) {
    return false;
  }
  // And this process's own. The same check keeps a Wayland session safe,
  // where the handle may be a Wayland surface's number that names another
  // application's window on the compositor's X server.
  unsigned long pid = 0;
  if (!readCardinal(x, display, window, atoms[kWmPid], XA_CARDINAL, pid) ||
      pid != static_cast<unsigned long>(getpid())) {
    return false;
  }

  // Everything is read before anything is written, so the check below is
  // the last moment a write could still be avoided.
  XWMHints* const current = x.XGetWMHints(display, window);
  XWMHints hints;
  std::memset(&hints, 0, sizeof hints);
  if (current != nullptr) {
    hints = *current;
    x.XFree(current);
  }
  Atom* protocols = nullptr;
  int count = 0;
  if (x.XGetWMProtocols(display, window, &protocols, &count) == 0) {
    protocols = nullptr;
  }
  unsigned long timeWindow = 0;
  bool const separateTimeWindow =
      readCardinal(x, display, window, atoms[kUserTimeWindow], XA_WINDOW, timeWindow) &&
      timeWindow != None && timeWindow != window;
  if (requestFailed.load() || !job.stillWanted()) {
    if (protocols != nullptr) {
      x.XFree(protocols);
    }
    return false;
  }

  // Input False, every other hint as it was.
  hints.flags |= InputHint;
  hints.input = False;
  x.XSetWMHints(display, window, &hints);

  // WM_TAKE_FOCUS out, the other protocols kept in their order. The property
  // is only written when it changes.
  if (protocols != nullptr) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      if (protocols[i] != atoms[kTakeFocus]) {
        protocols[kept++] = protocols[i];
      }
    }
    if (kept != count) {
      x.XSetWMProtocols(display, window, protocols, kept);
    }
    x.XFree(protocols);
  }

  // A user time of 0 asks the window manager not to focus the window when it
  // is mapped. Clients that update their user time often keep it on a
  // separate window named in _NET_WM_USER_TIME_WINDOW, which the window
  // manager then reads instead.
  long const zero = 0;
  auto const* zeroBytes = reinterpret_cast<const unsigned char*>(&zero);
  x.XChangeProperty(display, window, atoms[kUserTime], XA_CARDINAL, 32, PropModeReplace, zeroBytes,
                    1);
  if (separateTimeWindow) {
    x.XChangeProperty(display, static_cast<Window>(timeWindow), atoms[kUserTime], XA_CARDINAL, 32,
                      PropModeReplace, zeroBytes, 1);
  }

  return connection.settled();
}

// The X work of one call, on its own thread.
bool work(const x11::Library& x, Job& job) {
  // Xlib's handler is one per process; another thread of the host may use
  // Xlib meanwhile, which the handler allows for (see recordError).
  Connection const connection(x, job);
  if (connection.display() == nullptr || !job.stillWanted()) {
    return false;
  }
  return makeNonActivating(x, connection.display(), job.window, job, connection);
}

void* runJob(void* argument) {
  auto* const job = static_cast<Job*>(argument);
  bool const result = work(xlib(), *job);
  {
    std::lock_guard<std::mutex> guard(workerLock);
    workerBusy = false;
  }
  workerDone.notify_all();
  {
    std::lock_guard<std::mutex> guard(job->lock);
    job->finished = true;
    job->result = result;
  }
  job->changed.notify_all();
  letGo(job);
  return nullptr;
}

// The calling thread's hold on a job, let go after its lock (declared later).
struct Holding {
  Job* job;
  ~Holding() { letGo(job); }
};

}  // namespace

bool preventActivation(void* view) {
  // The handle carries an X window id. Resource ids have their top three
  // bits clear, so anything else cannot name a window.
  auto const id = reinterpret_cast<std::uintptr_t>(view);
  if (id == 0 || id > 0x1fffffffU) {
    return false;
  }
  // Without a display the X library is not even loaded.
  const char* const displayName = std::getenv("DISPLAY");
  if (displayName == nullptr || displayName[0] == '\0') {
    return false;
  }
  const x11::Library& x = xlib();
  if (!x.loaded) {
    return false;
  }
  auto const deadline = std::chrono::steady_clock::now() + kWorkerTime;

  {
    std::unique_lock<std::mutex> guard(workerLock);
    if (!workerDone.wait_until(guard, deadline, [] { return !workerBusy; })) {
      return false;
    }
    workerBusy = true;
  }
  auto* const job = new Job;
  Holding const holding{job};
  job->window = static_cast<Window>(id);
  job->displayName = displayName;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int const started = pthread_create(&thread, &attributes, runJob, job);
  pthread_attr_destroy(&attributes);
  if (started != 0) {
    letGo(job);  // the worker's hold
    {
      std::lock_guard<std::mutex> guard(workerLock);
      workerBusy = false;
    }
    workerDone.notify_all();
    return false;
  }

  std::unique_lock<std::mutex> guard(job->lock);
  if (job->changed.wait_until(guard, deadline, [job] { return job->finished; })) {
    return job->result;
  }
  job->abandoned = true;
  if (job->socket < 0) {
    return false;
  }
  // The thread is waiting on the server: end its connection, so it fails
  // now instead of whenever the server answers. A write made before the call
  // gave up may just have been confirmed meanwhile.
  shutdown(job->socket, SHUT_RDWR);
  if (job->changed.wait_for(guard, kWindDown, [job] { return job->finished; })) {
    return job->result;
  }
  return false;
}
