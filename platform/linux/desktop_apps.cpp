#include "platform/linux/desktop_apps.h"

#include "platform/linux/procfs.h"
#include "platform/linux/programs.h"
#include "platform/threads/thread_name.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <unordered_set>
#include <string_view>
#include <system_error>

namespace desktop {

namespace {

// The most of a script the agent reads to find what it execs: wrappers are
// short, and their exec line comes within the first few KiB.
constexpr std::size_t scriptHeadLimit = 8 * 1024;
// Desktop entries are small; anything larger is not read whole.
constexpr std::size_t entryFileLimit = 256 * 1024;
// Scripts that exec further wrappers are followed this far.
constexpr int wrapperDepth = 4;
// More entries than any desktop installs; a folder filled beyond this by
// another process is not read further.
constexpr std::size_t maxEntries = 200000;

std::string baseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string normalPath(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().generic_string();
}

std::optional<std::string> realPathOf(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> findInPath(const std::string& program, const std::string& path) {
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(begin, end - begin);
    if (!dir.empty() && dir[0] == '/') {
      const std::string candidate = dir + "/" + program;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    begin = end + 1;
  }
  return std::nullopt;
}

struct Resolved {
  std::optional<std::string> program;
  std::vector<std::string> scripts;
};

// What running `invoked` (an absolute path) runs: the binary, after wrapper
// scripts that exec one; or, for a script of an interpreter, that script.
Resolved resolveProgram(std::string invoked, const Resolver& resolver) {
  Resolved result;
  for (int depth = 0; depth < wrapperDepth; ++depth) {
    const std::string real = resolver.realPath(invoked).value_or(invoked);
    if (programKind(real) != ProgramKind::application) return result;
    const std::optional<std::string> head = resolver.readHead(real);
    const std::optional<Shebang> interpreter = head ? shebang(*head) : std::nullopt;
    if (!interpreter) {
      result.program = real;
      return result;
    }
    if (auto target = wrapperTarget(*head, invoked, real)) {
      invoked = std::move(*target);
      continue;
    }
    // A script that is not a plain wrapper is what its interpreter runs.
    result.scripts.push_back(normalPath(invoked));
    if (real != result.scripts.front()) result.scripts.push_back(real);
    return result;
  }
  return result;
}

bool hasFolder(const std::string& program) { return program.find('/') != std::string::npos; }

}  // namespace

Environment Environment::fromProcess() {
  Environment environment;
  environment.applicationDirs = desktop::applicationDirs(
      std::getenv("XDG_DATA_HOME"), std::getenv("XDG_DATA_DIRS"), std::getenv("HOME"));
  environment.localeVariants = desktop::localeVariants(
      messagesLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
  const char* path = std::getenv("PATH");
  environment.path = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  return environment;
}

Resolver Resolver::fileSystem(std::string path) {
  Resolver resolver;
  resolver.realPath = realPathOf;
  resolver.findInPath = [path = std::move(path)](const std::string& program) {
    return desktop::findInPath(program, path);
  };
  resolver.readHead = [](const std::string& file) {
    return procfs::readFile(file, scriptHeadLimit);
  };
  return resolver;
}

IndexedEntry indexEntry(std::string id, std::string path, DesktopEntry entry,
                        const Resolver& resolver) {
  IndexedEntry indexed{std::move(id), std::move(path), std::move(entry), {}, {}, {}, {}};
  if (!indexed.visibleApplication() || !indexed.entry.exec) return indexed;
  const std::vector<std::string> command = execCommand(*indexed.entry.exec);
  if (command.empty()) return indexed;
  const std::string& program = command.front();
  switch (programKind(program)) {
    case ProgramKind::launcher:
      return indexed;
    case ProgramKind::interpreter: {
      // The entry is the script it runs; an entry that starts the bare
      // interpreter (an interactive prompt) is no program to match.
      const std::vector<std::string> arguments(command.begin() + 1, command.end());
      const std::optional<std::string> script = scriptArgument(program, arguments);
      if (!script) return indexed;
      if (script->rfind("-m ", 0) == 0) {
        indexed.scripts.push_back(*script);
      } else if ((*script)[0] == '/') {
        indexed.scripts.push_back(normalPath(*script));
        if (auto real = resolver.realPath(*script); real && *real != indexed.scripts.front()) {
          indexed.scripts.push_back(std::move(*real));
        }
      }
      return indexed;
    }
    case ProgramKind::application:
      break;
  }
  std::optional<std::string> located = program;
  if (!hasFolder(program)) {
    indexed.programName = program;
    located = resolver.findInPath(program);
  }
  if (located) {
    Resolved resolved = resolveProgram(*located, resolver);
    indexed.program = std::move(resolved.program);
    indexed.scripts = std::move(resolved.scripts);
  }
  if (indexed.entry.tryExec && !indexed.entry.tryExec->empty()) {
    const std::string& tryExec = *indexed.entry.tryExec;
    const std::optional<std::string> found =
        hasFolder(tryExec) ? tryExec : resolver.findInPath(tryExec);
    if (found) indexed.tryExec = resolveProgram(*found, resolver).program;
  }
  return indexed;
}

ProcessImage processImage(std::string executable, const std::vector<std::string>& arguments,
                          const std::optional<std::string>& workingDirectory) {
  ProcessImage image;
  image.interpreter = programKind(executable) == ProgramKind::interpreter;
  if (image.interpreter && !arguments.empty()) {
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    std::optional<std::string> script = scriptArgument(executable, rest);
    if (script && script->rfind("-m ", 0) != 0) {
      if ((*script)[0] != '/') {
        if (workingDirectory && !workingDirectory->empty() && (*workingDirectory)[0] == '/') {
          script = *workingDirectory + "/" + *script;
        } else {
          script.reset();
        }
      }
      if (script) script = normalPath(*script);
    }
    image.script = std::move(script);
  }
  image.executable = std::move(executable);
  return image;
}

bool runsEntry(const IndexedEntry& entry, const ProcessImage& image) {
  if (image.interpreter) {
    return image.script && std::find(entry.scripts.begin(), entry.scripts.end(), *image.script) !=
                               entry.scripts.end();
  }
  if (programKind(image.executable) != ProgramKind::application) return false;
  const std::string name = baseName(image.executable);
  return (entry.program && *entry.program == image.executable) ||
         (entry.tryExec && *entry.tryExec == image.executable) ||
         (entry.programName && *entry.programName == name) || entry.id == name;
}

namespace {

std::vector<std::shared_ptr<const IndexedEntry>> shared(std::vector<IndexedEntry> entries) {
  std::vector<std::shared_ptr<const IndexedEntry>> list;
  list.reserve(entries.size());
  for (IndexedEntry& entry : entries)
    list.push_back(std::make_shared<const IndexedEntry>(std::move(entry)));
  return list;
}

}  // namespace

Catalog::Catalog(std::vector<IndexedEntry> entries) : Catalog(shared(std::move(entries))) {}

Catalog::Catalog(std::vector<std::shared_ptr<const IndexedEntry>> entries)
    : entries_(std::move(entries)) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const IndexedEntry& e = *entries_[i];
    // The first entry with an id stands for it, hidden or not.
    if (!ids_.emplace(e.id, i).second) continue;
    paths_.emplace(e.path, i);
    if (!e.visibleApplication()) continue;
    lowerIds_.emplace(lower(e.id), i);
    if (e.entry.startupWmClass && !e.entry.startupWmClass->empty()) {
      wmClasses_.emplace(*e.entry.startupWmClass, i);
    }
    if (e.program) programs_.emplace(*e.program, i);
    if (e.programName) programNames_.emplace(*e.programName, i);
    if (e.tryExec) tryExecs_.emplace(*e.tryExec, i);
    for (const std::string& script : e.scripts) scripts_.emplace(script, i);
  }
}

const IndexedEntry* Catalog::find(const Lookup& lookup, const std::string& key) const {
  const auto found = lookup.find(key);
  return found == lookup.end() ? nullptr : entries_[found->second].get();
}

const IndexedEntry* Catalog::byId(const std::string& id) const {
  const IndexedEntry* entry = find(ids_, id);
  return entry != nullptr && entry->visibleApplication() ? entry : nullptr;
}

const IndexedEntry* Catalog::byPath(const std::string& path) const {
  return find(paths_, normalPath(path));
}

const IndexedEntry* Catalog::byWindowClasses(const std::vector<WindowClass>& classes) const {
  for (const WindowClass& window : classes) {
    for (const std::string* name : {&window.className, &window.instance}) {
      if (const IndexedEntry* entry = find(wmClasses_, *name)) return entry;
    }
  }
  for (const WindowClass& window : classes) {
    for (const std::string* name : {&window.className, &window.instance}) {
      if (const IndexedEntry* entry = find(lowerIds_, lower(*name))) return entry;
    }
  }
  return nullptr;
}

const IndexedEntry* Catalog::byImage(const ProcessImage& image) const {
  if (image.interpreter) return image.script ? find(scripts_, *image.script) : nullptr;
  if (programKind(image.executable) != ProgramKind::application) return nullptr;
  if (const IndexedEntry* entry = find(programs_, image.executable)) return entry;
  if (const IndexedEntry* entry = find(tryExecs_, image.executable)) return entry;
  const std::string name = baseName(image.executable);
  if (const IndexedEntry* entry = find(programNames_, name)) return entry;
  const IndexedEntry* entry = byId(name);
  return entry != nullptr && entry->entry.exec ? entry : nullptr;
}

// ---------------------------------------------------------------------------

struct EntryIndex::CachedFile {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  std::shared_ptr<const IndexedEntry> entry;  // nothing: not a desktop entry
};

namespace {

timespec modified(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return timespec{-1, 0};
  return info.st_mtim;
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Only the names the agent can show are kept: some entries carry a hundred
// translations.
DesktopEntry keepNames(DesktopEntry entry, const std::vector<std::string>& variants) {
  std::map<std::string, std::string> kept;
  for (const std::string& variant : variants) {
    auto found = entry.localisedNames.find(variant);
    if (found != entry.localisedNames.end()) kept.insert(*found);
  }
  entry.localisedNames = std::move(kept);
  return entry;
}

}  // namespace

EntryIndex::EntryIndex(Environment environment, Refresh refresh)
    : environment_(std::move(environment)),
      resolver_(Resolver::fileSystem(environment_.path)),
      refresh_(refresh),
      outside_(std::make_shared<const std::map<std::string, std::optional<IndexedEntry>>>()) {
  if (refresh_ == Refresh::background)
    thread_ = std::thread([this] {
      platform::nameThisThread("tondrel-apps");
      run();
    });
}

EntryIndex::~EntryIndex() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  watch_.wake();
  if (thread_.joinable()) thread_.join();
}

void EntryIndex::run() {
  bool first = true;
  // Set when a file in a folder of entries changed: read again, whatever
  // the folders' time stamps say.
  bool folderChanged = false;
  for (;;) {
    std::vector<std::string> wanted;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stop_) return;
      wanted.swap(wantedOutside_);
    }
    const auto started = std::chrono::steady_clock::now();
    bool scanned = false;
    if (first || folderChanged || changed()) {
      scan();
      scanned = true;
      first = false;
      // The folders read this time are the ones to watch: a new subfolder
      // is watched from now on, one removed no longer.
      std::vector<std::string> folders;
      {
        std::lock_guard<std::mutex> guard(scanLock_);
        for (const auto& stamp : stamps_) folders.push_back(stamp.first);
      }
      watch_.watch(folders);
    }
    if (!wanted.empty()) loadOutside(wanted);
    // At most a few looks a second, however often the folders change, and a
    // reading that took long is not followed at once by the next one: at
    // most half of a core goes to reading folders that keep changing.
    std::chrono::steady_clock::duration pause = refreshInterval;
    if (scanned) pause = std::max(pause, std::chrono::steady_clock::now() - started);
    {
      std::unique_lock<std::mutex> guard(lock_);
      wake_.wait_for(guard, pause, [this] { return stop_ || !wantedOutside_.empty(); });
      if (stop_) return;
      if (!wantedOutside_.empty()) continue;
    }
    // A change between the reading and the watch is seen here, as far as
    // the time stamps tell.
    if (scanned && changed()) continue;
    // Then nothing runs until a folder changes or a lookup asks for a file:
    // an idle agent does not wake for this index.
    folderChanged = watch_.wait(refreshInterval) == FolderWatch::Woken::changed;
  }
}

bool EntryIndex::changed() {
  std::lock_guard<std::mutex> guard(scanLock_);
  return std::any_of(stamps_.begin(), stamps_.end(), [](const auto& stamp) {
    return !sameTime(modified(stamp.first), stamp.second);
  });
}

void EntryIndex::rescan() { scan(); }

void EntryIndex::scan() {
  std::lock_guard<std::mutex> guard(scanLock_);
  std::vector<std::pair<std::string, timespec>> stamps;
  std::unordered_map<std::string, CachedFile> files;
  files.reserve(files_.size());
  std::vector<std::shared_ptr<const IndexedEntry>> entries;
  std::unordered_set<std::string> ids;
  for (const std::string& givenDir : environment_.applicationDirs) {
    // Paths are kept as the folder's normal form joined with the file's,
    // so that a launched file's normal path finds them.
    const std::string dir = normalPath(givenDir);
    // A folder's time stamp changes when a file is added, removed or renamed
    // in it (not below it), so every folder read is watched.
    stamps.emplace_back(dir, modified(dir));
    std::vector<std::string> relative;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(
        dir, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      std::error_code kindError;
      if (it->is_directory(kindError)) {
        stamps.emplace_back(it->path().string(), modified(it->path().string()));
        continue;
      }
      const std::filesystem::path& file = it->path();
      if (file.extension() != ".desktop") continue;
      if (!it->is_regular_file(kindError)) continue;
      relative.push_back(file.lexically_relative(dir).generic_string());
      if (relative.size() >= maxEntries) break;
    }
    std::sort(relative.begin(), relative.end());
    for (const std::string& name : relative) {
      if (entries.size() >= maxEntries) break;
      std::string id = name.substr(0, name.size() - 8);
      std::replace(id.begin(), id.end(), '/', '-');
      // A folder earlier in the search order hides the same id further on,
      // also with an entry that says it is hidden.
      if (ids.count(id) != 0) continue;
      const std::string path = dir + "/" + name;
      struct stat info {};
      if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      CachedFile cached{info.st_dev, info.st_ino, info.st_size, info.st_mtim, nullptr};
      const auto previous = files_.find(path);
      if (previous != files_.end() && previous->second.device == cached.device &&
          previous->second.inode == cached.inode && previous->second.size == cached.size &&
          sameTime(previous->second.modified, cached.modified)) {
        cached.entry = previous->second.entry;
      } else if (const auto text = procfs::readFile(path, entryFileLimit)) {
        if (std::optional<DesktopEntry> entry = parseDesktopEntry(*text)) {
          cached.entry = std::make_shared<const IndexedEntry>(indexEntry(
              id, path, keepNames(std::move(*entry), environment_.localeVariants), resolver_));
        }
      }
      if (cached.entry) {
        ids.insert(id);
        entries.push_back(cached.entry);
      }
      files.emplace(path, std::move(cached));
    }
  }
  stamps_ = std::move(stamps);
  files_ = std::move(files);
  auto catalog = std::make_shared<const Catalog>(std::move(entries));
  {
    std::lock_guard<std::mutex> published(lock_);
    catalog_ = std::move(catalog);
  }
  ready_.notify_all();
}

std::shared_ptr<const Catalog> EntryIndex::catalog() {
  {
    std::unique_lock<std::mutex> guard(lock_);
    if (catalog_ != nullptr && refresh_ == Refresh::background) return catalog_;
    if (refresh_ == Refresh::background) {
      // Only the first lookup waits: once that wait has passed, lookups
      // answer without entries until the reading is complete.
      if (!waitedForFirst_ &&
          ready_.wait_for(guard, firstReadingWait, [this] { return catalog_ != nullptr; })) {
        return catalog_;
      }
      waitedForFirst_ = true;
      static const auto empty = std::make_shared<const Catalog>();
      return empty;
    }
  }
  // Read on demand: again whenever a folder changed.
  if (catalogMissing() || changed()) scan();
  std::lock_guard<std::mutex> guard(lock_);
  return catalog_;
}

bool EntryIndex::catalogMissing() {
  std::lock_guard<std::mutex> guard(lock_);
  return catalog_ == nullptr;
}

std::optional<DesktopEntry> EntryIndex::entryById(const std::string& id) {
  const std::shared_ptr<const Catalog> entries = catalog();
  const IndexedEntry* entry = entries->byId(id);
  if (entry == nullptr) return std::nullopt;
  return entry->entry;
}

std::optional<IndexedEntry> EntryIndex::outsideEntry(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = outside_->find(path);
    if (found != outside_->end()) return found->second;
    if (refresh_ == Refresh::background) {
      if (std::find(wantedOutside_.begin(), wantedOutside_.end(), path) == wantedOutside_.end() &&
          wantedOutside_.size() < outsideEntriesKept) {
        wantedOutside_.push_back(path);
      }
    }
  }
  if (refresh_ == Refresh::background) {
    wake_.notify_all();
    watch_.wake();
    return std::nullopt;
  }
  loadOutside({path});
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = outside_->find(path);
  return found != outside_->end() ? found->second : std::nullopt;
}

void EntryIndex::loadOutside(const std::vector<std::string>& paths) {
  std::map<std::string, std::optional<IndexedEntry>> loaded;
  for (const std::string& path : paths) {
    std::optional<IndexedEntry> indexed;
    const std::optional<std::string> id = desktopIdOfPath(path, environment_.applicationDirs);
    if (id) {
      if (const auto text = procfs::readFile(path, entryFileLimit)) {
        if (std::optional<DesktopEntry> entry = parseDesktopEntry(*text)) {
          indexed = indexEntry(*id, path, keepNames(std::move(*entry), environment_.localeVariants),
                               resolver_);
        }
      }
    }
    loaded.emplace(path, std::move(indexed));
  }
  std::lock_guard<std::mutex> guard(lock_);
  auto next = std::make_shared<std::map<std::string, std::optional<IndexedEntry>>>();
  if (outside_->size() + loaded.size() <= outsideEntriesKept) *next = *outside_;
  next->merge(loaded);
  outside_ = std::move(next);
}

void EntryIndex::setWindowSource(std::shared_ptr<WindowSource> source) {
  std::lock_guard<std::mutex> guard(lock_);
  windows_ = std::move(source);
}

std::shared_ptr<WindowSource> EntryIndex::windowSource() {
  std::lock_guard<std::mutex> guard(lock_);
  return windows_;
}

// ---------------------------------------------------------------------------

namespace {

struct Found {
  std::string id;
  std::optional<IndexedEntry> outside;  // the launched entry, when it is outside the folders
};

bool underFolders(const std::string& path, const std::vector<std::string>& dirs) {
  return std::any_of(dirs.begin(), dirs.end(), [&path](const std::string& dir) {
    return path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
  });
}

// One lookup's view: the same catalog throughout, each process identified
// once.
class Lookup {
 public:
  explicit Lookup(EntryIndex& index)
      : index_(index), catalog_(index.catalog()), windows_(index.windowSource()) {}

  const Catalog& catalog() const { return *catalog_; }

  const std::optional<Found>& identify(pid_t pid) {
    const auto known = memo_.find(pid);
    if (known != memo_.end()) return known->second;
    return memo_.emplace(pid, identifyNow(pid)).first->second;
  }

  bool isHelperOf(pid_t pid, const std::string& id) {
    const std::optional<pid_t> parent = procfs::parentPid(pid, index_.environment().procRoot);
    if (!parent || *parent < 2) return false;
    const std::optional<Found>& parentFound = identify(*parent);
    return parentFound && parentFound->id == id;
  }

 private:
  std::string pidPath(pid_t pid, const char* file) const {
    return index_.environment().procRoot + "/" + std::to_string(pid) + "/" + file;
  }

  std::optional<Found> identifyNow(pid_t pid) {
    if (pid < 1) return std::nullopt;
    const std::string& root = index_.environment().procRoot;
    if (const auto cgroup = procfs::readFile(pidPath(pid, "cgroup"), 1 << 16)) {
      if (auto id = appIdFromCgroup(*cgroup)) return Found{std::move(*id), std::nullopt};
    }
    std::optional<ProcessImage> image;
    if (auto executable = procfs::executable(pid, root)) {
      const auto cmdline = procfs::readFile(pidPath(pid, "cmdline"), 1 << 16);
      image = processImage(std::move(*executable), procfs::arguments(cmdline.value_or("")),
                           procfs::workingDirectory(pid, root));
    }
    if (image) {
      if (auto found = fromLaunchedFile(pid, *image)) return found;
    }
    if (windows_) {
      if (const IndexedEntry* entry = catalog_->byWindowClasses(windows_->classesOf(pid))) {
        return Found{entry->id, std::nullopt};
      }
    }
    if (image) {
      if (const IndexedEntry* entry = catalog_->byImage(*image))
        return Found{entry->id, std::nullopt};
    }
    return std::nullopt;
  }

  // The desktop file the process was launched from counts only when the
  // process runs that entry's program: anything can set the variable, and a
  // process of another program must not become that application by it.
  std::optional<Found> fromLaunchedFile(pid_t pid, const ProcessImage& image) {
    const auto environ = procfs::readFile(pidPath(pid, "environ"));
    if (!environ) return std::nullopt;
    std::optional<std::string> launched =
        procfs::environValue(*environ, "GIO_LAUNCHED_DESKTOP_FILE");
    if (!launched || launched->empty() || (*launched)[0] != '/') return std::nullopt;
    const std::string path = std::filesystem::path(*launched).lexically_normal().generic_string();
    const std::vector<std::string>& dirs = index_.environment().applicationDirs;
    if (underFolders(path, dirs)) {
      const IndexedEntry* entry = catalog_->byPath(path);
      if (entry != nullptr && entry->visibleApplication() && runsEntry(*entry, image)) {
        return Found{entry->id, std::nullopt};
      }
      return std::nullopt;
    }
    std::optional<IndexedEntry> outside = index_.outsideEntry(path);
    if (!outside || !outside->visibleApplication() || !runsEntry(*outside, image))
      return std::nullopt;
    std::string id = outside->id;
    return Found{std::move(id), std::move(outside)};
  }

  EntryIndex& index_;
  std::shared_ptr<const Catalog> catalog_;
  std::shared_ptr<WindowSource> windows_;
  std::map<pid_t, std::optional<Found>> memo_;
};

}  // namespace

std::optional<std::string> appIdOfProcess(pid_t pid, EntryIndex& index) {
  Lookup lookup(index);
  const std::optional<Found>& found = lookup.identify(pid);
  if (!found) return std::nullopt;
  return found->id;
}

std::optional<Application> applicationOfProcess(pid_t pid, EntryIndex& index) {
  Lookup lookup(index);
  const std::optional<Found> found = lookup.identify(pid);
  if (!found || lookup.isHelperOf(pid, found->id)) return std::nullopt;
  Application application{found->id, std::nullopt};
  if (const IndexedEntry* entry = lookup.catalog().byId(found->id)) {
    application.name = localisedName(entry->entry, index.environment().localeVariants);
  } else if (found->outside) {
    // A desktop file launched from outside the usual folders still names the
    // application.
    application.name = localisedName(found->outside->entry, index.environment().localeVariants);
  }
  return application;
}

std::vector<pid_t> processesOfApplication(const std::string& id, EntryIndex& index) {
  Lookup lookup(index);
  std::vector<pid_t> pids;
  for (const pid_t pid : procfs::allPids(index.environment().procRoot)) {
    const std::optional<Found>& found = lookup.identify(pid);
    if (found && found->id == id && !lookup.isHelperOf(pid, id)) pids.push_back(pid);
  }
  return pids;
}

}  // namespace desktop
