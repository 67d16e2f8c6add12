// Windows side of the module. The host hands over the HWND of a top-level
// window (what Electron's getNativeWindowHandle() gives there: 8 bytes), and
// the window gets the extended style WS_EX_NOACTIVATE, its other styles kept:
// a click then no longer makes it the foreground window, so the application
// the user was in stays active, and the click still reaches the window.
//
// Only a top-level window of this process, owned by the calling thread, is
// changed:
//  - another process's window is not the host's to change;
//  - changing a window's style sends it WM_STYLECHANGING and WM_STYLECHANGED,
//    which for a window of another thread waits until that thread handles
//    them, without any bound; the host's windows belong to its UI thread,
//    which is the thread its JavaScript runs on (Electron's main process);
//  - the style means something only on a top-level window: a click on a
//    child window activates the top-level window that holds it.
// Everything else answers false, and nothing is sent to any window then.
#include "window.h"

#include <windows.h>

#include <cstdint>

namespace {

// Window handles are 32-bit values, sign-extended in a 64-bit process. The
// system looks at the low 32 bits only, so any other upper half would still
// name a window: refuse it rather than act on a window the host never named.
bool isHandleValue(std::uintptr_t value) {
  const auto wide = static_cast<std::int64_t>(value);
  return wide != 0 && wide == static_cast<std::int32_t>(wide);
}

bool isOwnTopLevelWindow(HWND window) {
  if (!IsWindow(window)) return false;
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &process);
  if (thread == 0 || process != GetCurrentProcessId() || thread != GetCurrentThreadId()) {
    return false;
  }
  return GetAncestor(window, GA_ROOT) == window;
}

}  // namespace

bool preventActivation(void* view) {
  const auto value = reinterpret_cast<std::uintptr_t>(view);
  if (!isHandleValue(value)) return false;
  HWND window = static_cast<HWND>(view);
  if (!isOwnTopLevelWindow(window)) return false;

  // A style of 0 is a valid answer; only the last error tells a failed read.
  SetLastError(ERROR_SUCCESS);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  if (style == 0 && GetLastError() != ERROR_SUCCESS) return false;
  if ((style & WS_EX_NOACTIVATE) == 0) {
    SetLastError(ERROR_SUCCESS);
    if (SetWindowLongPtrW(window, GWL_EXSTYLE, style | WS_EX_NOACTIVATE) == 0 &&
        GetLastError() != ERROR_SUCCESS) {
      return false;
    }
  }
  // The window procedure may veto the change while handling WM_STYLECHANGING.
  return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_NOACTIVATE) != 0;
}
