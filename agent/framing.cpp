#include "agent/framing.h"

#include "common/utf8.h"

namespace tondrel {

std::vector<std::string> completeLines(std::string& pending, std::string_view chunk) {
  std::vector<std::string> lines;
  const std::size_t last = chunk.rfind('\n');
  if (last == std::string_view::npos) {
    pending.append(chunk);
    return lines;
  }
  // Everything up to the chunk's last line feed is complete lines; the rest
  // becomes `pending`.
  std::string complete = std::move(pending);
  complete.append(chunk.substr(0, last + 1));
  pending.assign(chunk.substr(last + 1));
  std::size_t start = 0;
  while (start < complete.size()) {
    const std::size_t end = complete.find('\n', start);
    lines.push_back(repairedUtf8(std::string_view(complete).substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

}  // namespace tondrel
