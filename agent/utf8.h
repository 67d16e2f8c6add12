// UTF-8 repair shared by the input framing and the JSON writer.
#pragma once

#include <string>
#include <string_view>

namespace tondrel {

// Appends the bytes to `out` as well-formed UTF-8: every maximal ill-formed
// subpart becomes one U+FFFD, the substitution the Unicode Standard
// recommends, so the result never depends on how much garbage there was.
void appendRepairedUtf8(std::string& out, std::string_view bytes);

std::string repairedUtf8(std::string_view bytes);

}  // namespace tondrel
