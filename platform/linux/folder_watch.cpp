#include "platform/linux/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace desktop {

namespace {

// What changes the files of a folder, or the folder itself.
constexpr std::uint32_t folderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                       IN_ONLYDIR;
// Where a missing folder may appear. Every watch adds to what is watched: a
// folder may be both watched and above a missing one, and a second watch of
// the same folder would otherwise replace the first one's events.
constexpr std::uint32_t ancestorEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void drain(int descriptor) {
  char buffer[4096];
  while (read(descriptor, buffer, sizeof buffer) > 0) {
  }
}

enum class Seen { nothing, appeared, changed };

// Reads every queued event: whether one was about a watched folder itself
// (or events were lost), or only about folders above missing ones. The
// removal of a watch is no news.
Seen drainEvents(int descriptor, const std::set<int>& folders) {
  Seen seen = Seen::nothing;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t length = read(descriptor, buffer, sizeof buffer);
    if (length <= 0) return seen;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
      inotify_event event{};
      std::memcpy(&event, buffer + at, sizeof event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      if ((event.mask & IN_Q_OVERFLOW) != 0 || folders.count(event.wd) != 0) {
        seen = Seen::changed;
      } else if ((event.mask & IN_IGNORED) == 0 && seen == Seen::nothing) {
        seen = Seen::appeared;
      }
    }
  }
}

}  // namespace

FolderWatch::FolderWatch() { wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

FolderWatch::~FolderWatch() {
  if (inotify_ >= 0) close(inotify_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool FolderWatch::watch(const std::vector<std::string>& folders) {
  // One descriptor for good: events queued on it while the folders were
  // read (a file written during the reading) are still there for wait().
  if (inotify_ < 0) inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    complete_ = false;
    return false;
  }
  std::set<int> watches;
  std::set<int> folderWatches;
  bool all = true;
  for (const std::string& folder : folders) {
    const int watch = inotify_add_watch(inotify_, folder.c_str(), folderEvents | IN_MASK_ADD);
    if (watch >= 0) {
      watches.insert(watch);
      folderWatches.insert(watch);
      continue;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
      // No watches left (ENOSPC), no permission: looked at by interval.
      all = false;
      continue;
    }
    // Not there (yet): watched for where it would appear.
    std::string above = folder;
    bool watched = false;
    while (!watched) {
      const std::size_t slash = above.find_last_of('/');
      if (slash == std::string::npos) break;
      above = slash == 0 ? "/" : above.substr(0, slash);
      const int ancestor = inotify_add_watch(inotify_, above.c_str(), ancestorEvents | IN_MASK_ADD);
      if (ancestor >= 0) {
        watches.insert(ancestor);
        watched = true;
      } else if (errno != ENOENT && errno != ENOTDIR) {
        break;
      }
      if (above == "/") break;
    }
    all = all && watched;
  }
  // Folders no longer read are no longer watched.
  for (const int old : watches_) {
    if (watches.count(old) == 0) inotify_rm_watch(inotify_, old);
  }
  watches_ = std::move(watches);
  folderWatches_ = std::move(folderWatches);
  complete_ = all;
  return all;
}

FolderWatch::Woken FolderWatch::wait(std::chrono::milliseconds fallback) {
  for (;;) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {inotify_, POLLIN, 0}};
    const nfds_t count = inotify_ >= 0 ? 2 : 1;
    const int timeout = complete_ ? -1 : static_cast<int>(fallback.count());
    int ready;
    do {
      ready = poll(fds, count, timeout);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return Woken::timedOut;
    if ((fds[0].revents & POLLIN) != 0) {
      drain(wakeFd_);
      return Woken::asked;
    }
    switch (drainEvents(inotify_, folderWatches_)) {
      case Seen::changed:
        return Woken::changed;
      case Seen::appeared:
        return Woken::appeared;
      case Seen::nothing:
        break;
    }
  }
}

void FolderWatch::wake() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

}  // namespace desktop
