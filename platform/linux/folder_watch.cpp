#include "platform/linux/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace desktop {

namespace {

// What changes the files of a folder, or the folder itself.
constexpr std::uint32_t folderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                       IN_ONLYDIR;
// Where a missing folder may appear.
constexpr std::uint32_t ancestorEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void drain(int descriptor) {
  char buffer[4096];
  while (read(descriptor, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

FolderWatch::FolderWatch() { wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

FolderWatch::~FolderWatch() {
  closeWatches();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void FolderWatch::closeWatches() {
  if (inotify_ >= 0) close(inotify_);
  inotify_ = -1;
  complete_ = false;
}

bool FolderWatch::watch(const std::vector<std::string>& folders) {
  // A new descriptor drops every old watch at once; events that arrived on
  // the old one are of folders read since, so nothing is lost.
  closeWatches();
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) return false;
  bool all = true;
  for (const std::string& folder : folders) {
    if (inotify_add_watch(inotify_, folder.c_str(), folderEvents) >= 0) continue;
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
      if (inotify_add_watch(inotify_, above.c_str(), ancestorEvents) >= 0) {
        watched = true;
      } else if (errno != ENOENT && errno != ENOTDIR) {
        break;
      }
      if (above == "/") break;
    }
    all = all && watched;
  }
  complete_ = all;
  return all;
}

FolderWatch::Woken FolderWatch::wait(std::chrono::milliseconds fallback) {
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
  drain(inotify_);
  return Woken::changed;
}

void FolderWatch::wake() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

}  // namespace desktop
