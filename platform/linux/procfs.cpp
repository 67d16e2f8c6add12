#include "platform/linux/procfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>

namespace procfs {

std::optional<pid_t> parentFromStat(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  // " S 1234 ...": the state, then the parent pid.
  const auto skipSpaces = [&rest] {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  };
  skipSpaces();
  if (rest.empty()) return std::nullopt;
  const std::size_t stateEnd = rest.find(' ');
  if (stateEnd == std::string_view::npos) return std::nullopt;
  rest.remove_prefix(stateEnd);
  skipSpaces();
  long long value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end == rest.data()) return std::nullopt;
  if (end != rest.data() + rest.size() && *end != ' ' && *end != '\n') return std::nullopt;
  if (value < 0 || value > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

std::optional<unsigned long long> startTimeFromStat(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  // After the name come the state (field 3) and on; the start time is
  // field 22.
  std::string_view rest = stat.substr(close + 1);
  for (int field = 3; field <= 22; ++field) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return std::nullopt;
    const std::size_t end = std::min(rest.find(' '), rest.size());
    if (field == 22) {
      unsigned long long value = 0;
      const auto [last, error] = std::from_chars(rest.data(), rest.data() + end, value);
      if (error != std::errc() || last != rest.data() + end) {
        // A trailing newline ends the last field.
        if (error != std::errc() || *last != '\n') return std::nullopt;
      }
      return value;
    }
    rest.remove_prefix(end);
  }
  return std::nullopt;
}

std::optional<std::string> environValue(std::string_view environ, std::string_view name) {
  std::size_t begin = 0;
  while (begin < environ.size()) {
    std::size_t end = environ.find('\0', begin);
    if (end == std::string_view::npos) end = environ.size();
    const std::string_view entry = environ.substr(begin, end - begin);
    if (entry.size() > name.size() && entry.substr(0, name.size()) == name &&
        entry[name.size()] == '=') {
      return std::string(entry.substr(name.size() + 1));
    }
    begin = end + 1;
  }
  return std::nullopt;
}

std::optional<std::string> firstArgument(std::string_view cmdline) {
  const std::string_view first = cmdline.substr(0, cmdline.find('\0'));
  if (first.empty()) return std::nullopt;
  return std::string(first);
}

std::vector<std::string> arguments(std::string_view cmdline) {
  std::vector<std::string> list;
  std::size_t begin = 0;
  while (begin < cmdline.size()) {
    std::size_t end = cmdline.find('\0', begin);
    if (end == std::string_view::npos) end = cmdline.size();
    list.emplace_back(cmdline.substr(begin, end - begin));
    begin = end + 1;
  }
  return list;
}

std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  // Nothing is read before the descriptor is known to be a regular file.
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (descriptor < 0) return std::nullopt;
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return std::nullopt;
  }
  std::string text;
  char chunk[4096];
  bool failed = false;
  while (text.size() < limit) {
    const ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      failed = true;
      break;
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  close(descriptor);
  if (failed) return std::nullopt;
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::optional<pid_t> parentPid(pid_t pid, const std::string& root) {
  if (pid < 1) return std::nullopt;
  const std::optional<std::string> stat =
      readFile(root + "/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  return parentFromStat(*stat);
}

std::optional<std::string> executable(pid_t pid, const std::string& root) {
  const std::string link = root + "/" + std::to_string(pid) + "/exe";
  char target[PATH_MAX];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return std::nullopt;
  std::string path(target, static_cast<std::size_t>(length));
  constexpr std::string_view deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  return path;
}

std::optional<unsigned long long> startTime(pid_t pid, const std::string& root) {
  if (pid < 1) return std::nullopt;
  const std::optional<std::string> stat =
      readFile(root + "/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  return startTimeFromStat(*stat);
}

std::optional<std::string> workingDirectory(pid_t pid, const std::string& root) {
  const std::string link = root + "/" + std::to_string(pid) + "/cwd";
  char target[PATH_MAX];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return std::nullopt;
  return std::string(target, static_cast<std::size_t>(length));
}

std::vector<pid_t> allPids(const std::string& root) {
  std::vector<pid_t> pids;
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return pids;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error == std::errc() && end == name.data() + name.size() && pid > 0) pids.push_back(pid);
  }
  closedir(dir);
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace procfs
