// Applications on Windows. A process is an application when it is a packaged
// application, or when it shows a window the way the taskbar counts one: a
// visible top-level window that no other window owns and that is not a tool
// window (or that asks for a taskbar button itself). So a browser's main
// process is an application; its renderer, GPU and audio processes, which
// show nothing, are not.
//
// Its id is the packaged application's user model id
// ("Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe!App"), else the file name
// of its executable ("chrome.exe"), compared without regard to case as
// Windows compares file names. Its name is the FileDescription of the
// executable's version resource ("Google Chrome"), else the file name.
#include "platform/applications.h"
#include "platform/windows/com.h"
#include "platform/windows/process_info.h"
#include "platform/windows/version_resource.h"

#include <windows.h>
#include <tlhelp32.h>

#include <unordered_set>

namespace platform::windows {

namespace {

bool isApplicationWindow(HWND window) {
  if (!IsWindowVisible(window)) return false;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  if ((style & WS_EX_APPWINDOW) != 0) return true;
  return GetWindow(window, GW_OWNER) == nullptr && (style & WS_EX_TOOLWINDOW) == 0;
}

BOOL CALLBACK collectApplicationWindow(HWND window, LPARAM context) {
  if (isApplicationWindow(window)) {
    DWORD pid = 0;
    if (GetWindowThreadProcessId(window, &pid) != 0) {
      reinterpret_cast<std::unordered_set<DWORD>*>(context)->insert(pid);
    }
  }
  return TRUE;
}

// The processes that show an application window now: one pass over the
// top-level windows.
std::unordered_set<DWORD> processesWithApplicationWindows() {
  std::unordered_set<DWORD> pids;
  EnumWindows(collectApplicationWindow, reinterpret_cast<LPARAM>(&pids));
  return pids;
}

bool sameId(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

}  // namespace platform::windows

namespace platform {

std::optional<RunningApplication> runningApplication(pid_t pid) {
  using namespace windows;
  const std::optional<std::wstring> path = processImagePath(pid);
  if (!path) return std::nullopt;
  const std::optional<std::wstring> packaged = packagedApplicationId(pid);
  if (!packaged && processesWithApplicationWindows().count(static_cast<DWORD>(pid)) == 0) {
    return std::nullopt;
  }
  const std::wstring file = fileNameOf(*path);
  RunningApplication application;
  application.activationPolicy = activationPolicyRegular;
  application.bundleIdentifier = utf8(packaged ? *packaged : file);
  const std::optional<std::wstring> description = fileDescription(*path);
  application.localizedName = utf8(description ? *description : file);
  return application;
}

std::vector<pid_t> runningApplicationPids(std::string_view bundleIdentifier) {
  using namespace windows;
  std::vector<pid_t> pids;
  const std::optional<std::wstring> id = utf16(bundleIdentifier);
  if (!id || id->empty()) return pids;
  // A user model id always holds a '!' between package and application; a
  // file name never does.
  const bool packagedId = id->find(L'!') != std::wstring::npos;
  std::unordered_set<DWORD> withWindows;
  if (!packagedId) withWindows = processesWithApplicationWindows();

  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const auto pid = static_cast<pid_t>(entry.th32ProcessID);
    if (packagedId) {
      const std::optional<std::wstring> packaged = packagedApplicationId(pid);
      if (packaged && sameId(*packaged, *id)) pids.push_back(pid);
    } else if (withWindows.count(entry.th32ProcessID) != 0 && sameId(entry.szExeFile, *id) &&
               !packagedApplicationId(pid)) {
      pids.push_back(pid);
    }
  }
  CloseHandle(snapshot);
  return pids;
}

}  // namespace platform
