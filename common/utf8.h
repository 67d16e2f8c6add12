// UTF-8: the one decoder and encoder of the project. The input framing and
// the JSON writer repair what they are given; the CF core decodes strings
// into UTF-16 and encodes them back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tondrel {

// What starts a piece of UTF-8: a well-formed sequence and the code point it
// encodes, or the maximal ill-formed subpart there (the unit the Unicode
// Standard replaces by one U+FFFD). `length` is at least 1 either way.
struct Utf8Sequence {
  std::size_t length = 0;
  bool wellFormed = false;
  char32_t codePoint = 0;  // when well-formed
};

// The sequence at the start of `bytes`, which must not be empty.
Utf8Sequence nextUtf8Sequence(std::string_view bytes);

// Appends the code point's UTF-8 form; `codePoint` must be a scalar value
// (at most U+10FFFF and no surrogate).
void appendUtf8(std::string& out, char32_t codePoint);

// Appends the bytes to `out` as well-formed UTF-8: every maximal ill-formed
// subpart becomes one U+FFFD, the substitution the Unicode Standard
// recommends, so the result never depends on how much garbage there was.
void appendRepairedUtf8(std::string& out, std::string_view bytes);

std::string repairedUtf8(std::string_view bytes);

}  // namespace tondrel
