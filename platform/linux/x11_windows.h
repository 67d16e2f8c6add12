// The WM_CLASS of each process's top-level windows, read from the X server
// the way desktops' window trackers read it: the windows the window manager
// lists in _NET_CLIENT_LIST (or, without one, the root's children and their
// children), each tied to its process by _NET_WM_PID.
//
// X calls run on a thread of their own, never on the caller's: an X server
// can accept a connection and never answer, or another client can grab the
// server for as long as it likes. The thread keeps a table of pid -> classes
// and reads it again when a lookup finds it older than tableFresh. A lookup
// waits for that new reading at most callerWait, and does not wait at all
// while an earlier reading is overdue; a reading that takes longer than
// stalledAfter has its connection cut, and the next connection is tried
// reconnectAfter later. A process's classes, once seen, are kept for that
// process (pid and start time) so that windows closing later do not change
// what it is.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/desktop_apps.h"

namespace desktop {

class X11WindowSource : public WindowSource {
 public:
  static constexpr std::chrono::milliseconds callerWait{250};
  static constexpr std::chrono::milliseconds tableFresh{500};
  static constexpr std::chrono::milliseconds stalledAfter{1000};
  static constexpr std::chrono::milliseconds reconnectAfter{5000};
  // Windows looked at per reading; a client that makes more does not make
  // the reading longer.
  static constexpr std::size_t maxWindows = 1024;

  // A source for the display with this name ($DISPLAY), or nothing when the
  // name is empty or libX11 (1.7 or later, which lets a process survive a
  // lost connection) cannot be loaded.
  static std::shared_ptr<X11WindowSource> start(const std::string& display,
                                                std::string procRoot = "/proc",
                                                const char* library = "libX11.so.6");
  ~X11WindowSource() override;

  std::vector<WindowClass> classesOf(pid_t pid) override;

  struct State;

 private:
  explicit X11WindowSource(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace desktop
