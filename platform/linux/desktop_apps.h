// Which desktop application a process belongs to, from what /proc and the
// desktop entries say about it. The seam of running applications is answered
// from here; the /proc root, the entry folders, the locale and PATH are
// arguments so tests can build a desktop of their own.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/desktop_entry.h"

namespace desktop {

struct Environment {
  std::string procRoot = "/proc";
  std::vector<std::string> applicationDirs;  // from applicationDirs()
  std::vector<std::string> localeVariants;   // from localeVariants()
  std::string path;                          // PATH, for Exec programs without a folder

  // This process's own: XDG_DATA_HOME, XDG_DATA_DIRS, HOME, the messages
  // locale and PATH.
  static Environment fromProcess();
};

struct Application {
  std::string id;
  std::optional<std::string> name;
};

// The desktop entries of the application folders, read when first needed and
// read again when one of the folders changes. Safe to use from several
// threads.
class EntryIndex {
 public:
  explicit EntryIndex(Environment environment);

  const Environment& environment() const { return environment_; }

  // The entry with this desktop id; nothing when there is none or it is
  // hidden.
  std::optional<DesktopEntry> entryById(const std::string& id);

  // The id of the first entry whose Exec program is this executable (or the
  // process's first argument, for programs started through a link or script).
  std::optional<std::string> idByExecutable(const std::string& executable,
                                            const std::optional<std::string>& firstArgument);

 private:
  struct Indexed {
    std::string id;
    DesktopEntry entry;
    std::optional<std::string> program;   // from Exec; absent for generic launchers
    std::optional<std::string> resolved;  // the program's real path, when it can be found
  };

  void refresh();
  void load();

  Environment environment_;
  std::mutex lock_;
  std::vector<std::pair<std::string, timespec>> stamps_;
  bool loaded_ = false;
  std::vector<Indexed> entries_;             // folder order, then path order
  std::map<std::string, std::size_t> ids_;   // id -> its entry (the first folder's)
};

// The application id of a process: its cgroup's application unit, then
// GIO_LAUNCHED_DESKTOP_FILE from its environment, then a desktop entry whose
// Exec program is its executable.
std::optional<std::string> appIdOfProcess(pid_t pid, EntryIndex& index);

// The application a process is: a process with an application id, unless its
// parent has the same id (then it is one of that application's helpers, and
// the parent, or an ancestor, is the application). The name is the entry's
// localised Name.
std::optional<Application> applicationOfProcess(pid_t pid, EntryIndex& index);

// The processes that are the application with this id, in increasing order.
std::vector<pid_t> processesOfApplication(const std::string& id, EntryIndex& index);

}  // namespace desktop
