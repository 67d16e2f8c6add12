#include "platform/linux/desktop_apps.h"

#include "platform/linux/procfs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace desktop {

namespace {

std::string baseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Programs that start something else named by their arguments: an entry that
// runs one of them says nothing about which process is its application.
constexpr std::array<std::string_view, 24> genericPrograms = {
    "sh",    "bash",  "dash",   "zsh",     "fish",     "python",     "python3", "perl",
    "ruby",  "node",  "nodejs", "java",    "gjs",      "mono",       "wine",    "flatpak",
    "snap",  "xdg-open", "gtk-launch", "pkexec", "sudo", "kioclient5", "gio",   "exo-open"};

std::optional<std::string> realPath(const std::string& path) {
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
      if (access(candidate.c_str(), X_OK) == 0) return realPath(candidate);
    }
    begin = end + 1;
  }
  return std::nullopt;
}

timespec modified(const std::string& dir) {
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0) return timespec{-1, 0};
  return info.st_mtim;
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string pidPath(const EntryIndex& index, pid_t pid, const char* file) {
  return index.environment().procRoot + "/" + std::to_string(pid) + "/" + file;
}

}  // namespace

Environment Environment::fromProcess() {
  Environment environment;
  environment.applicationDirs = desktop::applicationDirs(std::getenv("XDG_DATA_HOME"),
                                                std::getenv("XDG_DATA_DIRS"), std::getenv("HOME"));
  environment.localeVariants = desktop::localeVariants(
      messagesLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
  const char* path = std::getenv("PATH");
  environment.path = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  return environment;
}

EntryIndex::EntryIndex(Environment environment) : environment_(std::move(environment)) {}

void EntryIndex::refresh() {
  std::vector<std::pair<std::string, timespec>> now;
  now.reserve(environment_.applicationDirs.size());
  for (const std::string& dir : environment_.applicationDirs) now.emplace_back(dir, modified(dir));
  const bool same = loaded_ && now.size() == stamps_.size() &&
                    std::equal(now.begin(), now.end(), stamps_.begin(), [](const auto& a, const auto& b) {
                      return a.first == b.first && sameTime(a.second, b.second);
                    });
  if (same) return;
  stamps_ = std::move(now);
  load();
  loaded_ = true;
}

void EntryIndex::load() {
  entries_.clear();
  ids_.clear();
  for (const std::string& dir : environment_.applicationDirs) {
    std::vector<std::string> relative;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(
        dir, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      const std::filesystem::path& file = it->path();
      if (file.extension() != ".desktop") continue;
      std::error_code kindError;
      if (!it->is_regular_file(kindError)) continue;
      relative.push_back(file.lexically_relative(dir).generic_string());
    }
    std::sort(relative.begin(), relative.end());
    for (const std::string& name : relative) {
      std::string id = name.substr(0, name.size() - 8);
      std::replace(id.begin(), id.end(), '/', '-');
      // A folder earlier in the search order hides the same id further on,
      // also with an entry that says it is hidden.
      if (ids_.count(id) != 0) continue;
      const std::optional<std::string> text = procfs::readFile(dir + "/" + name);
      if (!text) continue;
      std::optional<DesktopEntry> entry = parseDesktopEntry(*text);
      if (!entry) continue;
      Indexed indexed{id, std::move(*entry), std::nullopt, std::nullopt};
      if (indexed.entry.type == "Application" && !indexed.entry.hidden && indexed.entry.exec) {
        indexed.program = execProgram(*indexed.entry.exec);
        if (indexed.program &&
            std::find(genericPrograms.begin(), genericPrograms.end(), baseName(*indexed.program)) !=
                genericPrograms.end()) {
          indexed.program.reset();
        }
        if (indexed.program) {
          indexed.resolved = indexed.program->find('/') != std::string::npos
                                 ? realPath(*indexed.program)
                                 : findInPath(*indexed.program, environment_.path);
        }
      }
      ids_.emplace(id, entries_.size());
      entries_.push_back(std::move(indexed));
    }
  }
}

std::optional<DesktopEntry> EntryIndex::entryById(const std::string& id) {
  std::lock_guard<std::mutex> guard(lock_);
  refresh();
  const auto found = ids_.find(id);
  if (found == ids_.end()) return std::nullopt;
  const Indexed& indexed = entries_[found->second];
  if (indexed.entry.hidden) return std::nullopt;
  return indexed.entry;
}

std::optional<std::string> EntryIndex::idByExecutable(
    const std::string& executable, const std::optional<std::string>& firstArgument) {
  std::lock_guard<std::mutex> guard(lock_);
  refresh();
  const std::string executableName = baseName(executable);
  const std::string argumentName = firstArgument ? baseName(*firstArgument) : std::string();
  for (const Indexed& indexed : entries_) {
    if (!indexed.program) continue;
    const std::string& program = *indexed.program;
    bool matches = indexed.resolved && *indexed.resolved == executable;
    if (!matches && program.find('/') != std::string::npos) {
      matches = program == executable || (firstArgument && program == *firstArgument);
    } else if (!matches) {
      matches = program == executableName || (firstArgument && program == argumentName);
    }
    if (matches) return indexed.id;
  }
  return std::nullopt;
}

namespace {

struct Found {
  std::string id;
  std::optional<std::string> entryPath;  // the launched desktop file, when that told the id
};

std::optional<Found> identify(pid_t pid, EntryIndex& index) {
  if (pid < 1) return std::nullopt;
  if (const auto cgroup = procfs::readFile(pidPath(index, pid, "cgroup"), 1 << 16)) {
    if (auto id = appIdFromCgroup(*cgroup)) return Found{std::move(*id), std::nullopt};
  }
  if (const auto environ = procfs::readFile(pidPath(index, pid, "environ"))) {
    if (auto launched = procfs::environValue(*environ, "GIO_LAUNCHED_DESKTOP_FILE")) {
      if (auto id = desktopIdOfPath(*launched, index.environment().applicationDirs)) {
        return Found{std::move(*id), std::move(*launched)};
      }
    }
  }
  if (const auto executable = procfs::executable(pid, index.environment().procRoot)) {
    const auto cmdline = procfs::readFile(pidPath(index, pid, "cmdline"), 1 << 16);
    const auto first = cmdline ? procfs::firstArgument(*cmdline) : std::nullopt;
    if (auto id = index.idByExecutable(*executable, first)) return Found{std::move(*id), std::nullopt};
  }
  return std::nullopt;
}

bool isHelperOf(pid_t pid, const std::string& id, EntryIndex& index) {
  const std::optional<pid_t> parent = procfs::parentPid(pid, index.environment().procRoot);
  if (!parent || *parent < 2) return false;
  const std::optional<Found> parentFound = identify(*parent, index);
  return parentFound && parentFound->id == id;
}

}  // namespace

std::optional<std::string> appIdOfProcess(pid_t pid, EntryIndex& index) {
  std::optional<Found> found = identify(pid, index);
  if (!found) return std::nullopt;
  return std::move(found->id);
}

std::optional<Application> applicationOfProcess(pid_t pid, EntryIndex& index) {
  std::optional<Found> found = identify(pid, index);
  if (!found || isHelperOf(pid, found->id, index)) return std::nullopt;
  Application application{found->id, std::nullopt};
  std::optional<DesktopEntry> entry = index.entryById(found->id);
  if (!entry && found->entryPath) {
    // A desktop file launched from outside the usual folders still names the
    // application.
    if (const auto text = procfs::readFile(*found->entryPath)) entry = parseDesktopEntry(*text);
  }
  if (entry) application.name = localisedName(*entry, index.environment().localeVariants);
  return application;
}

std::vector<pid_t> processesOfApplication(const std::string& id, EntryIndex& index) {
  std::vector<pid_t> pids;
  for (const pid_t pid : procfs::allPids(index.environment().procRoot)) {
    const std::optional<Found> found = identify(pid, index);
    if (found && found->id == id && !isHelperOf(pid, id, index)) pids.push_back(pid);
  }
  return pids;
}

}  // namespace desktop
