// Test helper module for the Windows addon tests: makes windows in the Node
// process that loads it, so morvane has windows of its own process to act on,
// and reads their extended style back.
//
//   createWindow(kind) -> 8-byte Buffer holding the HWND
//     "top"    a top-level window of the calling thread
//     "child"  a child window inside a new top-level window of this thread
//     "thread" a top-level window of another thread of this process, which
//              keeps handling its messages until the process ends
//   exStyle(handle)    -> the window's extended style, or -1 if it is gone
//   destroyWindow(handle) -> whether the window was destroyed
#include <node_api.h>

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

const wchar_t* windowClass() {
  static const wchar_t* name = [] {
    WNDCLASSW description{};
    description.lpfnWndProc = DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = L"TondrelTestWindow";
    RegisterClassW(&description);
    return L"TondrelTestWindow";
  }();
  return name;
}

HWND makeTopLevel() {
  return CreateWindowExW(0, windowClass(), L"test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

HWND makeOnOtherThread() {
  std::mutex lock;
  std::condition_variable made;
  HWND window = nullptr;
  bool done = false;
  std::thread([&] {
    HWND own = makeTopLevel();
    {
      std::lock_guard<std::mutex> guard(lock);
      window = own;
      done = true;
    }
    made.notify_all();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }).detach();
  std::unique_lock<std::mutex> guard(lock);
  made.wait(guard, [&] { return done; });
  return window;
}

napi_value handleValue(napi_env env, HWND window) {
  const auto bits = reinterpret_cast<std::uintptr_t>(window);
  napi_value buffer = nullptr;
  napi_create_buffer_copy(env, sizeof bits, &bits, nullptr, &buffer);
  return buffer;
}

HWND argumentWindow(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc != 1 ||
      napi_get_buffer_info(env, argv[0], &data, &length) != napi_ok || length != 8) {
    return nullptr;
  }
  std::uintptr_t bits = 0;
  std::memcpy(&bits, data, sizeof bits);
  return reinterpret_cast<HWND>(bits);
}

napi_value createWindow(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  char kind[16] = {};
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc == 1) napi_get_value_string_utf8(env, argv[0], kind, sizeof kind, nullptr);
  const std::string which = kind;
  HWND window = nullptr;
  if (which == "top") {
    window = makeTopLevel();
  } else if (which == "child") {
    HWND parent = makeTopLevel();
    window = CreateWindowExW(0, windowClass(), L"child", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50,
                             parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  } else if (which == "thread") {
    window = makeOnOtherThread();
  }
  return handleValue(env, window);
}

napi_value exStyle(napi_env env, napi_callback_info info) {
  HWND window = argumentWindow(env, info);
  double style = -1;
  if (window != nullptr && IsWindow(window)) {
    style = static_cast<double>(static_cast<std::uint32_t>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  }
  napi_value result = nullptr;
  napi_create_double(env, style, &result);
  return result;
}

napi_value destroyWindow(napi_env env, napi_callback_info info) {
  HWND window = argumentWindow(env, info);
  napi_value result = nullptr;
  napi_get_boolean(env, window != nullptr && DestroyWindow(window) != 0, &result);
  return result;
}

void attach(napi_env env, napi_value exports, const char* name, napi_callback callback) {
  napi_value function = nullptr;
  napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, nullptr, &function);
  napi_set_named_property(env, exports, name, function);
}

}  // namespace

extern "C" {

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) { return NAPI_VERSION; }

NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  attach(env, exports, "createWindow", createWindow);
  attach(env, exports, "exStyle", exStyle);
  attach(env, exports, "destroyWindow", destroyWindow);
  return exports;
}

}  // extern "C"
