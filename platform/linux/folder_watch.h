// Tells a thread when any of a set of folders may have changed, without
// looking at them in between: an inotify watch on each folder, and for a
// folder that is not there, on the nearest folder above it that is (where it
// may appear). Where the kernel gives no watches (none left, no inotify),
// wait() falls back to returning after the caller's interval, and the caller
// looks at the folders itself.
#pragma once

#include <chrono>
#include <optional>
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

  enum class Woken { changed, asked, timedOut };
  // Blocks until a watched folder may have changed (a file in it was added,
  // removed, renamed or written, or the folder itself appeared or went), until
  // wake() is called, or, while not every folder is watched, until
  // `fallback` has passed. Whatever arrived before the call counts.
  Woken wait(std::chrono::milliseconds fallback);

  // Any thread: makes the current or next wait() return `asked`.
  void wake();

 private:
  void closeWatches();

  int inotify_ = -1;
  int wakeFd_ = -1;
  bool complete_ = false;
};

}  // namespace desktop
