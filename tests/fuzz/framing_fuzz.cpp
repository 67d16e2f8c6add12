// completeLines on its own: arbitrary bytes cut into chunks of one size (the
// first byte picks it) must come out as exactly the lines a one-piece split
// gives, each repaired, with the bytes after the last line feed pending.
#include "agent/framing.h"
#include "common/utf8.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace tondrel;

namespace {

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "framing: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = std::size_t{1} << (data[0] % 12);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string pending;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    for (std::string& line : completeLines(pending, bytes.substr(at, chunk))) {
      lines.push_back(std::move(line));
    }
    if (pending.find('\n') != std::string::npos) fault("a line feed stayed pending");
  }

  std::size_t start = 0;
  std::size_t index = 0;
  for (std::size_t end = bytes.find('\n'); end != std::string_view::npos;
       start = end + 1, end = bytes.find('\n', start), ++index) {
    if (index >= lines.size()) fault("a line went missing");
    if (lines[index] != repairedUtf8(bytes.substr(start, end - start))) {
      fault("a line differs from the same bytes split in one piece");
    }
  }
  if (index != lines.size()) fault("more lines than line feeds");
  if (pending != bytes.substr(start)) fault("the bytes after the last line feed are not pending");
  return 0;
}
