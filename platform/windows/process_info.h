// What the Windows backend reads about a process by its pid.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace platform::windows {

// When the process started, in the system's 100 ns units; absent when it
// cannot be opened (ended, or not ours to query).
std::optional<std::uint64_t> processStartTime(pid_t pid);

// The full path of the process's executable file.
std::optional<std::wstring> processImagePath(pid_t pid);

// The application user model id of a packaged application's process; absent
// for every other process and where the system has no such ids (before
// Windows 8).
std::optional<std::wstring> packagedApplicationId(pid_t pid);

// The last part of a path.
std::wstring fileNameOf(const std::wstring& path);

}  // namespace platform::windows
