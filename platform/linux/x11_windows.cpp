#include "platform/linux/x11_windows.h"

#include "platform/linux/procfs.h"
#include "platform/linux/x11_library.h"
#include "platform/threads/thread_name.h"

#include <sys/socket.h>

#include <X11/Xatom.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace desktop {

namespace {

using Clock = std::chrono::steady_clock;

// Xlib's error handlers belong to the process. Errors on the reader's own
// connection (a window destroyed while it is read) are expected and ignored;
// anything else goes to the handler that was there before.
std::atomic<Display*> readerDisplay{nullptr};
std::atomic<XErrorHandler> earlierHandler{nullptr};
std::atomic<XIOErrorHandler> earlierIOHandler{nullptr};
std::atomic<bool> connectionLost{false};

int onError(Display* display, XErrorEvent* error) {
  if (display == readerDisplay.load()) return 0;
  const XErrorHandler earlier = earlierHandler.load();
  return earlier != nullptr ? earlier(display, error) : 0;
}

int onIOError(Display* display) {
  if (display == readerDisplay.load()) {
    connectionLost = true;
    return 0;
  }
  const XIOErrorHandler earlier = earlierIOHandler.load();
  return earlier != nullptr ? earlier(display) : 0;
}

// After a lost connection Xlib calls this instead of ending the process;
// every later request on that connection fails at once.
void stay(Display* /*display*/, void* /*data*/) {}

}  // namespace

struct X11WindowSource::State {
  std::string displayName;
  std::string procRoot;
  x11::Library x;

  std::mutex lock;
  std::condition_variable wake;
  std::condition_variable done;
  bool stop = false;
  bool wanted = false;
  bool busy = false;
  Clock::time_point busySince;
  std::uint64_t generation = 0;
  std::optional<Clock::time_point> tableTime;
  std::map<pid_t, std::vector<WindowClass>> table;
  std::map<pid_t, std::pair<unsigned long long, std::vector<WindowClass>>> kept;

  // The connection's socket, for cutting a reading that hangs. Closed only
  // with fdLock held, so the number never names another file when cut.
  std::mutex fdLock;
  int fd = -1;

  void cut() {
    std::lock_guard<std::mutex> guard(fdLock);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
  }

  void run();
  Display* connect();
  void disconnect(Display* display);
  std::map<pid_t, std::vector<WindowClass>> read(Display* display);
};

Display* X11WindowSource::State::connect() {
  connectionLost = false;
  Display* display = x.XOpenDisplay(displayName.c_str());
  if (display == nullptr) return nullptr;
  x.XSetIOErrorExitHandler(display, stay, nullptr);
  readerDisplay = display;
  std::lock_guard<std::mutex> guard(fdLock);
  fd = x.XConnectionNumber(display);
  return display;
}

void X11WindowSource::State::disconnect(Display* display) {
  std::lock_guard<std::mutex> guard(fdLock);
  fd = -1;
  x.XCloseDisplay(display);
  readerDisplay = nullptr;
}

std::map<pid_t, std::vector<WindowClass>> X11WindowSource::State::read(Display* display) {
  std::map<pid_t, std::vector<WindowClass>> classes;
  char clientList[] = "_NET_CLIENT_LIST";
  char wmPid[] = "_NET_WM_PID";
  char* names[] = {clientList, wmPid};
  Atom atoms[2] = {None, None};
  if (x.XInternAtoms(display, names, 2, False, atoms) == 0 || connectionLost) return classes;
  const Window root = DefaultRootWindow(display);

  std::vector<Window> windows;
  {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (x.XGetWindowProperty(display, root, atoms[0], 0, static_cast<long>(maxWindows), False,
                             XA_WINDOW, &type, &format, &count, &remaining, &data) == Success &&
        data != nullptr && type == XA_WINDOW && format == 32) {
      // Xlib hands 32-bit items over as longs.
      const auto* items = reinterpret_cast<const unsigned long*>(data);
      windows.assign(items, items + count);
    }
    if (data != nullptr) x.XFree(data);
  }
  if (windows.empty() && !connectionLost) {
    // No window manager that lists its clients: the root's children, and
    // their children for frames a window manager put around them.
    const auto children = [&](Window parent, std::vector<Window>& into) {
      Window rootReturn = None;
      Window parentReturn = None;
      Window* list = nullptr;
      unsigned int count = 0;
      if (x.XQueryTree(display, parent, &rootReturn, &parentReturn, &list, &count) != 0 &&
          list != nullptr) {
        for (unsigned int i = 0; i < count && into.size() < maxWindows; ++i)
          into.push_back(list[i]);
      }
      if (list != nullptr) x.XFree(list);
    };
    std::vector<Window> top;
    children(root, top);
    for (const Window window : top) {
      if (windows.size() >= maxWindows || connectionLost) break;
      windows.push_back(window);
      children(window, windows);
    }
  }

  std::set<Window> seen;
  for (const Window window : windows) {
    if (connectionLost) break;
    if (!seen.insert(window).second) continue;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    unsigned long pid = 0;
    const bool hasPid =
        x.XGetWindowProperty(display, window, atoms[1], 0, 1, False, XA_CARDINAL, &type, &format,
                             &count, &remaining, &data) == Success &&
        data != nullptr && type == XA_CARDINAL && format == 32 && count == 1;
    if (hasPid) std::memcpy(&pid, data, sizeof pid);
    if (data != nullptr) x.XFree(data);
    if (!hasPid || pid == 0 || pid > 0x7fffffffUL) continue;
    XClassHint hint{nullptr, nullptr};
    if (x.XGetClassHint(display, window, &hint) != 0) {
      WindowClass found{hint.res_name != nullptr ? hint.res_name : "",
                        hint.res_class != nullptr ? hint.res_class : ""};
      auto& list = classes[static_cast<pid_t>(pid)];
      if (std::find(list.begin(), list.end(), found) == list.end())
        list.push_back(std::move(found));
    }
    if (hint.res_name != nullptr) x.XFree(hint.res_name);
    if (hint.res_class != nullptr) x.XFree(hint.res_class);
  }
  return classes;
}

void X11WindowSource::State::run() {
  Display* display = nullptr;
  std::optional<Clock::time_point> nextConnect;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(lock);
      wake.wait(guard, [this] { return stop || wanted; });
      if (stop) break;
      wanted = false;
      busy = true;
      busySince = Clock::now();
    }
    std::map<pid_t, std::vector<WindowClass>> fresh;
    if (display == nullptr && (!nextConnect || Clock::now() >= *nextConnect)) {
      display = connect();
      if (display == nullptr) nextConnect = Clock::now() + reconnectAfter;
    }
    if (display != nullptr) {
      fresh = read(display);
      if (connectionLost) {
        fresh.clear();
        disconnect(display);
        display = nullptr;
        nextConnect = Clock::now() + reconnectAfter;
      }
    }
    std::lock_guard<std::mutex> guard(lock);
    table = std::move(fresh);
    tableTime = Clock::now();
    busy = false;
    ++generation;
    done.notify_all();
  }
  if (display != nullptr) disconnect(display);
}

std::shared_ptr<X11WindowSource> X11WindowSource::start(const std::string& display,
                                                        std::string procRoot, const char* library) {
  if (display.empty()) return nullptr;
  // One reader per process: Xlib's error handlers are the process's.
  static std::mutex once;
  static bool started = false;
  static x11::Library x;
  std::lock_guard<std::mutex> guard(once);
  if (!started) {
    x = x11::load(library);
    if (x.loaded && x.XSetIOErrorExitHandler != nullptr) {
      earlierHandler = x.XSetErrorHandler(onError);
      earlierIOHandler = x.XSetIOErrorHandler(onIOError);
    }
    started = true;
  }
  if (!x.loaded || x.XSetIOErrorExitHandler == nullptr) return nullptr;
  auto state = std::make_shared<State>();
  state->displayName = display;
  state->procRoot = std::move(procRoot);
  state->x = x;
  // Detached: a reading stuck in a server that never answers must not hold
  // up anything else, the end of the process included. It keeps the state
  // alive itself.
  std::thread([state] {
    platform::nameThisThread("tondrel-x11");
    state->run();
  }).detach();
  return std::shared_ptr<X11WindowSource>(new X11WindowSource(std::move(state)));
}

X11WindowSource::X11WindowSource(std::shared_ptr<State> state) : state_(std::move(state)) {}

X11WindowSource::~X11WindowSource() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stop = true;
  }
  state_->wake.notify_all();
}

std::vector<WindowClass> X11WindowSource::classesOf(pid_t pid) {
  State& s = *state_;
  const std::optional<unsigned long long> started = procfs::startTime(pid, s.procRoot);
  std::unique_lock<std::mutex> guard(s.lock);
  if (started) {
    const auto kept = s.kept.find(pid);
    if (kept != s.kept.end() && kept->second.first == *started) return kept->second.second;
  }
  const Clock::time_point now = Clock::now();
  if (!s.tableTime || now - *s.tableTime > tableFresh) {
    bool wait = true;
    if (!s.busy) {
      s.wanted = true;
      s.wake.notify_all();
    } else if (now - s.busySince > stalledAfter) {
      s.cut();
      wait = false;
    } else if (now - s.busySince > callerWait) {
      // Someone has waited for this reading already: it is late.
      wait = false;
    }
    if (wait) {
      const std::uint64_t generation = s.generation;
      s.done.wait_until(guard, now + callerWait, [&] { return s.generation != generation; });
    }
  }
  const auto found = s.table.find(pid);
  if (found == s.table.end()) return {};
  if (started) {
    // Processes that have ended leave the cache when it grows.
    if (s.kept.size() >= 4096) s.kept.clear();
    s.kept[pid] = {*started, found->second};
  }
  return found->second;
}

}  // namespace desktop
