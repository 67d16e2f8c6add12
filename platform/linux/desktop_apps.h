// Which desktop application a process belongs to, from what /proc, the
// desktop entries and the X server say about it. The seam of running
// applications is answered from here; the /proc root, the entry folders, the
// locale and PATH are arguments so tests can build a desktop of their own.
//
// A process's id comes from the first of these that answers:
//   1. the application unit its cgroup is in;
//   2. the desktop file named by GIO_LAUNCHED_DESKTOP_FILE in its
//      environment, when its executable agrees with that entry's program;
//   3. the WM_CLASS of its top-level windows, matched to an entry's
//      StartupWMClass, else to an entry's id regardless of case;
//   4. its executable matched to an entry: the entry's program (after a
//      wrapper script's exec), TryExec, or the executable's name being the
//      entry's id; for an interpreter, the script it runs against an entry
//      that runs that script.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/desktop_entry.h"
#include "platform/linux/folder_watch.h"

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

// The WM_CLASS of one window: instance and class name.
struct WindowClass {
  std::string instance;
  std::string className;
  bool operator==(const WindowClass& other) const {
    return instance == other.instance && className == other.className;
  }
};

// The classes of a process's top-level windows. Implementations answer
// within a bound of their own and may answer nothing.
class WindowSource {
 public:
  virtual ~WindowSource() = default;
  virtual std::vector<WindowClass> classesOf(pid_t pid) = 0;
};

// How the programs of entries are found on disk; the real file system, or
// a stand-in in tests.
struct Resolver {
  std::function<std::optional<std::string>(const std::string&)> realPath;
  // An Exec program given without a folder, searched in PATH.
  std::function<std::optional<std::string>(const std::string&)> findInPath;
  // The first few KiB of a regular file (a script's text).
  std::function<std::optional<std::string>(const std::string&)> readHead;

  static Resolver fileSystem(std::string path);
};

// One desktop entry with what it runs worked out.
struct IndexedEntry {
  std::string id;
  std::string path;  // the desktop file
  DesktopEntry entry;
  // The binary the entry runs, links resolved, after following a wrapper
  // script to the binary it execs. Absent for interpreters and launchers.
  std::optional<std::string> program;
  // An Exec program given without a folder (matched by executable name too).
  std::optional<std::string> programName;
  // For an entry that runs a script through an interpreter: the script, as
  // written and with links resolved (either matches).
  std::vector<std::string> scripts;
  // TryExec's program, links resolved, when it is an application's binary.
  std::optional<std::string> tryExec;

  bool visibleApplication() const { return entry.type == "Application" && !entry.hidden; }
};

// Works out what a parsed entry runs.
IndexedEntry indexEntry(std::string id, std::string path, DesktopEntry entry,
                        const Resolver& resolver);

// What a process runs, as far as matching it to entries goes.
struct ProcessImage {
  std::string executable;             // /proc/PID/exe
  bool interpreter = false;           // the executable is an interpreter
  std::optional<std::string> script;  // the script it runs, as an absolute path or "-m NAME"
};

// The image of a process from its executable, arguments (argv[0] first) and
// working folder. The script path is made absolute and normal without
// looking at the file system.
ProcessImage processImage(std::string executable, const std::vector<std::string>& arguments,
                          const std::optional<std::string>& workingDirectory);

// Whether a process runs what the entry runs (the agreement that lets a
// launched desktop file count).
bool runsEntry(const IndexedEntry& entry, const ProcessImage& image);

// The desktop entries of the application folders in search order, with the
// lookups the identification needs. An id in an earlier folder hides the same
// id further on.
class Catalog {
 public:
  Catalog() = default;
  explicit Catalog(std::vector<IndexedEntry> entries);
  explicit Catalog(std::vector<std::shared_ptr<const IndexedEntry>> entries);

  std::size_t size() const { return entries_.size(); }
  // The visible application with this id.
  const IndexedEntry* byId(const std::string& id) const;
  // The entry read from this desktop file (normalised path), if it is the
  // one its id stands for.
  const IndexedEntry* byPath(const std::string& path) const;
  // Step 3: the first window class that names an entry.
  const IndexedEntry* byWindowClasses(const std::vector<WindowClass>& classes) const;
  // Step 4.
  const IndexedEntry* byImage(const ProcessImage& image) const;

 private:
  using Lookup = std::unordered_map<std::string, std::size_t>;
  const IndexedEntry* find(const Lookup& lookup, const std::string& key) const;

  std::vector<std::shared_ptr<const IndexedEntry>> entries_;
  Lookup ids_, paths_, lowerIds_, wmClasses_, programs_, programNames_, tryExecs_, scripts_;
};

// The desktop entries of the application folders. By default a thread of its
// own reads them, and reads them again when one of the folders changes, at
// most a few times a second; lookups use the last complete reading and never
// wait for a new one. The thread sleeps until the kernel says a folder
// changed (see FolderWatch). Safe to use from several threads.
class EntryIndex {
 public:
  enum class Refresh { background, manual };

  explicit EntryIndex(Environment environment, Refresh refresh = Refresh::background);
  ~EntryIndex();
  EntryIndex(const EntryIndex&) = delete;
  EntryIndex& operator=(const EntryIndex&) = delete;

  const Environment& environment() const { return environment_; }

  // The last complete reading. Before the first one is complete, the first
  // call waits for it at most firstReadingWait; calls after that wait answer
  // an empty catalog until it is complete. In manual mode the folders are
  // read here when one changed.
  std::shared_ptr<const Catalog> catalog();

  // Reads the folders now, on the calling thread (tests, manual refresh).
  void rescan();

  // The visible entry with this id.
  std::optional<DesktopEntry> entryById(const std::string& id);

  // A desktop file outside the application folders that a process's
  // environment names. Read on the index's thread: the first lookup answers
  // nothing and asks for it; later lookups find it. In manual mode it is
  // read at once.
  std::optional<IndexedEntry> outsideEntry(const std::string& path);

  void setWindowSource(std::shared_ptr<WindowSource> source);
  std::shared_ptr<WindowSource> windowSource();

  static constexpr std::chrono::milliseconds refreshInterval{250};
  static constexpr std::chrono::milliseconds firstReadingWait{1000};
  static constexpr std::size_t outsideEntriesKept = 64;

 private:
  struct CachedFile;
  void run();
  bool changed();
  bool catalogMissing();
  void scan();
  void loadOutside(const std::vector<std::string>& paths);

  const Environment environment_;
  const Resolver resolver_;
  const Refresh refresh_;

  std::mutex scanLock_;  // one scan at a time; guards the fields below it
  std::vector<std::pair<std::string, timespec>> stamps_;
  std::unordered_map<std::string, CachedFile> files_;

  std::mutex lock_;  // guards the fields below it
  std::condition_variable wake_;
  std::condition_variable ready_;
  bool stop_ = false;
  bool waitedForFirst_ = false;
  std::shared_ptr<const Catalog> catalog_;
  std::shared_ptr<const std::map<std::string, std::optional<IndexedEntry>>> outside_;
  std::vector<std::string> wantedOutside_;
  std::shared_ptr<WindowSource> windows_;
  FolderWatch watch_;
  std::thread thread_;
};

// The application id of a process (the steps above), or nothing.
std::optional<std::string> appIdOfProcess(pid_t pid, EntryIndex& index);

// The application a process is: a process with an application id, unless its
// parent has the same id (then it is one of that application's helpers, and
// the parent, or an ancestor, is the application). The name is the entry's
// localised Name.
std::optional<Application> applicationOfProcess(pid_t pid, EntryIndex& index);

// The processes that are the application with this id, in increasing order:
// exactly those whose applicationOfProcess has that id.
std::vector<pid_t> processesOfApplication(const std::string& id, EntryIndex& index);

}  // namespace desktop
