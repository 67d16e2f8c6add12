// Test helper: a process of its own holding a top-level window, so the addon
// tests have a window that belongs to another process. Prints the window's
// handle as a decimal number on one line, then keeps the window until its
// standard input ends.
#include <windows.h>

#include <cstdint>
#include <cstdio>

int main() {
  WNDCLASSW description{};
  description.lpfnWndProc = DefWindowProcW;
  description.hInstance = GetModuleHandleW(nullptr);
  description.lpszClassName = L"TondrelForeignWindow";
  RegisterClassW(&description);
  HWND window = CreateWindowExW(0, description.lpszClassName, L"foreign", WS_OVERLAPPEDWINDOW, 0, 0,
                                200, 100, nullptr, nullptr, description.hInstance, nullptr);
  if (window == nullptr) return 1;
  std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
  std::fflush(stdout);
  char bytes[256];
  DWORD count = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, bytes, sizeof bytes, &count, nullptr) && count > 0) {
  }
  DestroyWindow(window);
  return 0;
}
