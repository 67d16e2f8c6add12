// Node-API on Windows, found in the host process at run time.
//
// A Windows DLL cannot leave functions undefined for the loader to find
// later, the way the Mac bundle and the Linux object do. Linking Node's
// import library would tie the module to a file named node.exe, and
// Electron's executable is not called that. So the few Node-API functions the
// module calls are defined here, each forwarding to the function of that name
// exported by the host: the executable itself (node.exe, electron.exe and
// every Electron application export Node-API), else node.dll or libnode.dll
// (an embedder that links Node as a library), else any loaded module that
// exports it. The build defines NAPI_EXTERN as nothing, so these definitions
// are plain functions of this DLL and are not exported from it.
#include <node_api.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <array>
#include <cstddef>

// Every Node-API function the module and its test helpers call: the name,
// its parameter list and the names passed on. Adding a call elsewhere without
// adding it here fails at link time.
// clang-format off
#define TONDREL_NODE_API(X)                                                                     \
  X(napi_get_cb_info,                                                                           \
    (napi_env env, napi_callback_info info, size_t* argc, napi_value* argv,                     \
     napi_value* thisArg, void** data),                                                         \
    (env, info, argc, argv, thisArg, data))                                                     \
  X(napi_get_buffer_info, (napi_env env, napi_value value, void** data, size_t* length),        \
    (env, value, data, length))                                                                 \
  X(napi_get_boolean, (napi_env env, bool value, napi_value* result), (env, value, result))     \
  X(napi_create_function,                                                                       \
    (napi_env env, const char* name, size_t length, napi_callback cb, void* data,               \
     napi_value* result),                                                                       \
    (env, name, length, cb, data, result))                                                      \
  X(napi_set_named_property,                                                                    \
    (napi_env env, napi_value object, const char* name, napi_value value),                      \
    (env, object, name, value))                                                                 \
  X(napi_create_buffer_copy,                                                                    \
    (napi_env env, size_t length, const void* data, void** copy, napi_value* result),           \
    (env, length, data, copy, result))                                                          \
  X(napi_create_double, (napi_env env, double value, napi_value* result), (env, value, result)) \
  X(napi_get_value_string_utf8,                                                                 \
    (napi_env env, napi_value value, char* buffer, size_t size, size_t* result),                \
    (env, value, buffer, size, result))
// clang-format on

namespace {

enum class Api : std::size_t {
#define TONDREL_NODE_API_ENUM(name, params, args) name,
  TONDREL_NODE_API(TONDREL_NODE_API_ENUM)
#undef TONDREL_NODE_API_ENUM
      count
};

constexpr const char* apiNames[] = {
#define TONDREL_NODE_API_NAME(name, params, args) #name,
    TONDREL_NODE_API(TONDREL_NODE_API_NAME)
#undef TONDREL_NODE_API_NAME
};

// The function every Node-API host exports; its presence marks the module to
// take all of them from.
constexpr const char* marker = "napi_create_function";

bool exportsNodeApi(HMODULE module) {
  return module != nullptr && GetProcAddress(module, marker) != nullptr;
}

HMODULE moduleWithNodeApi() {
  if (HMODULE host = GetModuleHandleW(nullptr); exportsNodeApi(host)) return host;
  for (const wchar_t* name : {L"node.dll", L"libnode.dll"}) {
    if (HMODULE library = GetModuleHandleW(name); exportsNodeApi(library)) return library;
  }
  // Any other loaded module. Room for 1024 is plenty for a Node process; a
  // larger list is read again at its full size.
  std::array<HMODULE, 1024> fixed{};
  HMODULE* modules = fixed.data();
  DWORD bytes = 0;
  HANDLE self = GetCurrentProcess();
  if (!EnumProcessModules(self, modules, static_cast<DWORD>(sizeof fixed), &bytes)) return nullptr;
  const std::size_t count = std::min<std::size_t>(bytes / sizeof(HMODULE), fixed.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (exportsNodeApi(modules[i])) return modules[i];
  }
  return nullptr;
}

using AnyFunction = void (*)();

struct Table {
  std::array<AnyFunction, static_cast<std::size_t>(Api::count)> functions{};

  Table() {
    HMODULE module = moduleWithNodeApi();
    if (module == nullptr) return;
    for (std::size_t i = 0; i < functions.size(); ++i) {
      // Through void (*)(), which converts to and from every function type.
      functions[i] = reinterpret_cast<AnyFunction>(GetProcAddress(module, apiNames[i]));
    }
  }
};

// Looked up on the first call, which is the host registering the module, so
// the lookup happens once, on the host's JavaScript thread, at load.
AnyFunction resolve(Api which) {
  static const Table table;
  return table.functions[static_cast<std::size_t>(which)];
}

}  // namespace

// Each forwards, or answers a generic failure in a host without that
// function: the module then attaches nothing, or answers false, but never
// jumps to null.
#define TONDREL_NODE_API_FORWARD(name, params, args)                        \
  extern "C" napi_status NAPI_CDECL name params {                           \
    auto* function = reinterpret_cast<decltype(&name)>(resolve(Api::name)); \
    return function != nullptr ? function args : napi_generic_failure;      \
  }
TONDREL_NODE_API(TONDREL_NODE_API_FORWARD)
#undef TONDREL_NODE_API_FORWARD
