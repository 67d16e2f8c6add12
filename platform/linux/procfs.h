// Reading the kernel's process table under /proc. The parsers are pure
// functions of a file's text; the readers take the /proc root as an argument
// so tests can point them at a folder of their own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace procfs {

// The parent pid field of a /proc/PID/stat line ("pid (comm) state ppid ...").
// The command name may hold spaces and parentheses, so the fields are counted
// from the last ')'.
std::optional<pid_t> parentFromStat(std::string_view stat);

// The value of one variable in the NUL-separated text of /proc/PID/environ.
std::optional<std::string> environValue(std::string_view environ, std::string_view name);

// The start time field of a /proc/PID/stat line (clock ticks after boot):
// with the pid it names one process, as pids are used again.
std::optional<unsigned long long> startTimeFromStat(std::string_view stat);

// The first argument (argv[0]) in the NUL-separated text of /proc/PID/cmdline.
std::optional<std::string> firstArgument(std::string_view cmdline);

// Every argument in the NUL-separated text of /proc/PID/cmdline.
std::vector<std::string> arguments(std::string_view cmdline);

// The most the agent reads of a file another process can name or write.
inline constexpr std::size_t defaultReadLimit = 256 * 1024;

// At most `limit` bytes of a regular file (a /proc file reports no size, so
// the size is not asked). Nothing when it cannot be opened or read, or when it
// is anything but a regular file: the path may come from another process, and
// a FIFO, a device or a socket could block the reader or change state when
// opened. The open itself does not wait for a writer.
std::optional<std::string> readFile(const std::string& path, std::size_t limit = defaultReadLimit);

// The parent pid of a process as /proc records it (0 for processes the kernel
// started), or nothing when there is no such process.
std::optional<pid_t> parentPid(pid_t pid, const std::string& root = "/proc");

// The executable of a process, without the " (deleted)" the kernel appends
// once the file is gone; nothing when it cannot be read.
std::optional<std::string> executable(pid_t pid, const std::string& root = "/proc");

// The start time of a process (see startTimeFromStat).
std::optional<unsigned long long> startTime(pid_t pid, const std::string& root = "/proc");

// The working folder of a process; nothing when it cannot be read.
std::optional<std::string> workingDirectory(pid_t pid, const std::string& root = "/proc");

// Every process id listed under the root, in increasing order.
std::vector<pid_t> allPids(const std::string& root = "/proc");

}  // namespace procfs
