#include "platform/windows/process_info.h"

#include <windows.h>

#include <utility>

namespace platform::windows {

namespace {

// A process handle that may only query, closed when done.
class QueryHandle {
 public:
  explicit QueryHandle(pid_t pid)
      : handle_(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid))) {}
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
  ~QueryHandle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Windows 8 and later; looked up so the agent still starts on Windows 7.
using GetApplicationUserModelIdFunction = LONG(WINAPI*)(HANDLE, UINT32*, PWSTR);
constexpr LONG noPackagedApplication = 15703;  // APPMODEL_ERROR_NO_APPLICATION

GetApplicationUserModelIdFunction getApplicationUserModelId() {
  static const auto function = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found =
        kernel != nullptr ? GetProcAddress(kernel, "GetApplicationUserModelId") : nullptr;
    return reinterpret_cast<GetApplicationUserModelIdFunction>(reinterpret_cast<void (*)()>(found));
  }();
  return function;
}

}  // namespace

std::optional<std::uint64_t> processStartTime(pid_t pid) {
  QueryHandle process(pid);
  FILETIME created{}, exited{}, kernel{}, user{};
  if (process.get() == nullptr ||
      !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::optional<std::wstring> processImagePath(pid_t pid) {
  QueryHandle process(pid);
  if (process.get() == nullptr) return std::nullopt;
  // Paths may exceed MAX_PATH; 32767 characters is the longest Windows has.
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return std::nullopt;
  path.resize(size);
  return path;
}

std::optional<std::wstring> packagedApplicationId(pid_t pid) {
  auto function = getApplicationUserModelId();
  if (function == nullptr) return std::nullopt;
  QueryHandle process(pid);
  if (process.get() == nullptr) return std::nullopt;
  // APPLICATION_USER_MODEL_ID_MAX_LENGTH is 130 characters with the NUL.
  wchar_t id[130] = {};
  UINT32 length = 130;
  const LONG result = function(process.get(), &length, id);
  if (result == noPackagedApplication || result != ERROR_SUCCESS || length <= 1 || id[0] == L'\0') {
    return std::nullopt;
  }
  return std::wstring(id);
}

std::wstring fileNameOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace platform::windows
