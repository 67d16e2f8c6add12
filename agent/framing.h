// Lines out of a byte stream that arrives in chunks of any size.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tondrel {

// Appends `chunk` to `pending`, the bytes after the last line feed so far, and
// answers the lines completed by it, oldest first, each without its line feed
// and with ill-formed UTF-8 replaced. Whatever follows the chunk's last line
// feed is left in `pending`, which therefore never holds a line feed between
// calls: only the new chunk is searched, so a long line arriving in many
// chunks costs one pass.
std::vector<std::string> completeLines(std::string& pending, std::string_view chunk);

}  // namespace tondrel
