#include "platform/windows/version_resource.h"

#include <windows.h>

#include <cwchar>
#include <vector>

namespace platform::windows {

namespace {

struct Translation {
  WORD language;
  WORD codePage;
};

std::optional<std::wstring> stringIn(const std::vector<BYTE>& data, Translation translation) {
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translation.language,
                translation.codePage);
  void* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), query, &text, &length) || text == nullptr || length == 0) {
    return std::nullopt;
  }
  // The length counts characters and may include the terminating NUL.
  std::wstring value(static_cast<const wchar_t*>(text), length);
  value.resize(std::wcslen(value.c_str()));
  const std::size_t first = value.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return std::nullopt;
  const std::size_t last = value.find_last_not_of(L" \t\r\n");
  return value.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::wstring> fileDescription(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;

  void* table = nullptr;
  UINT bytes = 0;
  std::vector<Translation> translations;
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &table, &bytes) &&
      table != nullptr) {
    const auto* listed = static_cast<const Translation*>(table);
    translations.assign(listed, listed + bytes / sizeof(Translation));
  }
  const LANGID language = GetUserDefaultUILanguage();
  for (const Translation& translation : translations) {
    if (translation.language == language) {
      if (auto text = stringIn(data, translation)) return text;
    }
  }
  for (const Translation& translation : translations) {
    if (auto text = stringIn(data, translation)) return text;
  }
  // Resources without a translation table are commonly US English, Unicode.
  return stringIn(data, {0x0409, 1200});
}

}  // namespace platform::windows
