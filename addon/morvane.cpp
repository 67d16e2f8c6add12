// Node-API entry points of the morvane module. The host hands in the native
// handle of a view as an 8-byte Buffer (on Linux an X11 window id, in 4 or 8
// bytes); the function answers whether that window was told not to activate
// the application. Every failure is
// just false, never an exception in the host's JavaScript: each path ends in
// the one napi_get_boolean call, whatever went wrong before it.
#include <node_api.h>

#include <cstdint>
#include <cstring>

#include "window.h"

namespace {

constexpr const char* kName = "morvane";

// A view handle is one 64-bit machine word; the module is only built for
// 64-bit hosts, where a pointer fits it exactly. On Linux the handle is an
// X11 window id, which hosts hand over as 4 bytes (a 32-bit id) or 8 (an
// unsigned long); either is widened to a word.
constexpr size_t kHandleSize = 8;
static_assert(sizeof(std::uintptr_t) == kHandleSize);

#if defined(__linux__)
constexpr size_t kShortHandleSize = 4;
#else
constexpr size_t kShortHandleSize = kHandleSize;
#endif

napi_value morvane(napi_env env, napi_callback_info info) {
  bool result = false;

  // Room for one argument only: a second argument must not be read, merely
  // counted, and the count then has to be exactly one.
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) == napi_ok && argc == 1) {
    void* data = nullptr;
    size_t length = 0;
    if (napi_get_buffer_info(env, argv[0], &data, &length) == napi_ok &&
        (length == kHandleSize || length == kShortHandleSize) && data != nullptr) {
      // The bytes are a machine word in host order but the Buffer may start
      // at any offset of its storage, so copy rather than dereference.
      std::uintptr_t address = 0;
      if (length == kHandleSize) {
        std::memcpy(&address, data, kHandleSize);
      } else {
        std::uint32_t shortHandle = 0;
        std::memcpy(&shortHandle, data, sizeof shortHandle);
        address = shortHandle;
      }
      // NOLINTNEXTLINE(performance-no-int-to-ptr): the host passes a pointer.
      result = preventActivation(reinterpret_cast<void*>(address));
    }
  }

  napi_value answer = nullptr;
  napi_get_boolean(env, result, &answer);
  return answer;
}

}  // namespace

extern "C" {

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) { return NAPI_VERSION; }

// Statuses are not examined: if the function cannot be created there is
// nothing to attach, and the host simply finds no "morvane" on the exports.
NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  napi_value function = nullptr;
  napi_create_function(env, kName, NAPI_AUTO_LENGTH, morvane, nullptr, &function);
  napi_set_named_property(env, exports, kName, function);
  return exports;
}

}  // extern "C"
