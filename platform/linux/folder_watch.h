// Tells a thread when any of a set of folders may have changed, without
// looking at them in between: an inotify watch on each folder, and for a
// folder that is not there, on the nearest folder above it that is (where it
// may appear). Where the kernel gives no watches (none left, no inotify),
// wait() falls back to returning after the caller's interval, and the caller
// looks at the folders itself.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace desktop {

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Replaces the folders watched. False when not every one could be watched
  // (wait() then returns after its fallback interval).
  bool watch(const std::vector<std::string>& folders);

  enum class Woken {
    // A file in a watched folder was added, removed, renamed or written, or
    // the folder itself went: its files are to be read again, whatever the
    // folder's time stamp says (a file written in place leaves it as it was,
    // and one made within the clock's tick of the last reading too).
    changed,
    // Something appeared where a missing folder would: it may be there now.
    appeared,
    asked,
    timedOut,
  };
  // Blocks until one of the above, or, while not every folder is watched,
  // until `fallback` has passed. Whatever arrived before the call counts.
  Woken wait(std::chrono::milliseconds fallback);

  // Any thread: makes the current or next wait() return `asked`.
  void wake();

 private:
  int inotify_ = -1;
  std::set<int> watches_;
  // Those of the folders themselves, not of the folders above missing ones.
  std::set<int> folderWatches_;
  int wakeFd_ = -1;
  bool complete_ = false;
};

}  // namespace desktop
