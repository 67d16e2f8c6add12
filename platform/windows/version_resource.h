// The description an executable gives of itself in its version resource.
#pragma once

#include <optional>
#include <string>

namespace platform::windows {

// The FileDescription of the file's version resource, in the user's
// language where the resource has it, else in the first language it lists;
// absent when the file has no such text or only blanks.
std::optional<std::wstring> fileDescription(const std::wstring& path);

}  // namespace platform::windows
