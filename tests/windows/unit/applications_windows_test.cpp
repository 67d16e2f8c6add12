// Applications and parents, asked of the system itself (Wine answers these
// truly): this test process, with windows it makes and a child it starts.
#include "platform/applications.h"
#include "platform/processes.h"
#include "platform/windows/version_resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

const pid_t self = static_cast<pid_t>(GetCurrentProcessId());

std::wstring ownPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::string ownFileName() {
  const std::wstring path = ownPath();
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  return std::string(name.begin(), name.end());  // ASCII: the build names it
}

HWND makeWindow(DWORD style, DWORD exStyle, HWND owner = nullptr) {
  static const wchar_t* className = [] {
    WNDCLASSW description{};
    description.lpfnWndProc = DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = L"TondrelApplicationsTest";
    RegisterClassW(&description);
    return L"TondrelApplicationsTest";
  }();
  return CreateWindowExW(exStyle, className, L"app", style, 0, 0, 100, 100, owner, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

TEST(WindowsApplications, AProcessIsAnApplicationWhileItShowsAWindowTheTaskbarWouldCount) {
  HWND owner = makeWindow(WS_OVERLAPPEDWINDOW, 0);  // hidden
  struct Case {
    const char* name;
    DWORD style;
    DWORD exStyle;
    bool owned;
    bool application;
  };
  const Case cases[] = {
      {"no visible window", WS_OVERLAPPEDWINDOW, 0, false, false},
      {"a visible unowned window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, false, true},
      {"a visible tool window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, WS_EX_TOOLWINDOW, false, false},
      {"a visible owned window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, true, false},
      {"a tool window that asks for a taskbar button", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
       WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, false, true},
  };
  for (const Case& c : cases) {
    HWND window = makeWindow(c.style, c.exStyle, c.owned ? owner : nullptr);
    ASSERT_NE(window, nullptr);
    const auto app = platform::runningApplication(self);
    const auto pids = platform::runningApplicationPids(ownFileName());
    const bool listed = std::find(pids.begin(), pids.end(), self) != pids.end();
    EXPECT_EQ(app.has_value(), c.application) << c.name;
    EXPECT_EQ(listed, c.application) << c.name;
    if (app) {
      EXPECT_EQ(app->activationPolicy, platform::activationPolicyRegular);
      EXPECT_EQ(app->bundleIdentifier, ownFileName());
      EXPECT_EQ(app->localizedName, "Tondrel Windows Tests") << "the FileDescription, trimmed";
    }
    DestroyWindow(window);
  }
  DestroyWindow(owner);
}

TEST(WindowsApplications, IdsAreComparedAsFileNamesAre) {
  HWND window = makeWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0);
  std::string upper = ownFileName();
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  for (const std::string& id : {ownFileName(), upper}) {
    const auto pids = platform::runningApplicationPids(id);
    EXPECT_NE(std::find(pids.begin(), pids.end(), self), pids.end()) << id;
  }
  for (const char* other : {"", "tondrel", "tondrel_windows_tests", "Example.App_8wekyb3d8bbwe!App",
                            "\xff\xfe not UTF-8"}) {
    const auto pids = platform::runningApplicationPids(other);
    EXPECT_EQ(std::find(pids.begin(), pids.end(), self), pids.end()) << other;
  }
  DestroyWindow(window);
  EXPECT_FALSE(platform::runningApplication(0x7ffffff0)) << "no such process";
}

TEST(WindowsApplications, TheNameComesFromTheVersionResourceElseIsAbsent) {
  EXPECT_EQ(platform::windows::fileDescription(ownPath()), L"Tondrel Windows Tests");
  EXPECT_FALSE(platform::windows::fileDescription(L"C:\\no\\such\\file.exe"));
}

TEST(WindowsProcesses, AChildsParentIsTheProcessThatStartedIt) {
  platform::processes::prepare();
  // A second copy of this executable, held suspended so that it is still
  // there while it is asked about.
  std::wstring command = L"\"" + ownPath() + L"\" --gtest_list_tests";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &child));
  EXPECT_EQ(platform::processes::parentPid(static_cast<pid_t>(child.dwProcessId)), self);
  EXPECT_FALSE(platform::processes::responsiblePid(static_cast<pid_t>(child.dwProcessId)));
  TerminateProcess(child.hProcess, 0);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_FALSE(platform::processes::parentPid(0x7ffffff0)) << "no such process";
}

}  // namespace
