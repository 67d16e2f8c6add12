#include "platform/windows/com.h"

namespace platform::windows {

bool comReady() {
  // Never uninitialised: the agent's threads live as long as the process, and
  // objects handed out on a thread stay usable until then.
  thread_local const bool ready = [] {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // S_FALSE: already initialised the same way on this thread. A thread that
    // someone made a single-threaded apartment can still make these calls.
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
  }();
  return ready;
}

std::string utf8(std::wstring_view text) {
  std::string bytes;
  if (text.empty()) return bytes;
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return bytes;
  bytes.resize(static_cast<std::size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::optional<std::wstring> utf16(std::string_view text) {
  std::wstring wide;
  if (text.empty()) return wide;
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  wide.resize(static_cast<std::size_t>(size));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), size);
  return wide;
}

}  // namespace platform::windows
