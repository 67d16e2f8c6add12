#include "common/utf8.h"

namespace tondrel {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

}  // namespace

Utf8Sequence nextUtf8Sequence(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return {1, true, b0};
  std::size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  char32_t codePoint = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    codePoint = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    codePoint = b0 & 0x0Fu;
    // No overlong forms, no surrogates.
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    codePoint = b0 & 0x07u;
    // No overlong forms, nothing above U+10FFFF.
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {1, false, 0};
  }
  // The second byte has its own range; the later ones are plain continuations.
  for (std::size_t k = 1; k <= need; ++k) {
    if (k >= s.size()) return {k, false, 0};
    const auto b = static_cast<unsigned char>(s[k]);
    const unsigned char min = k == 1 ? lo : 0x80;
    const unsigned char max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return {k, false, 0};
    codePoint = (codePoint << 6) | (b & 0x3Fu);
  }
  return {need + 1, true, codePoint};
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendRepairedUtf8(std::string& out, std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Copy runs of ASCII in one go: it is nearly all of what flows through here.
    std::size_t run = i;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
    if (run > i) {
      out.append(bytes.substr(i, run - i));
      i = run;
      continue;
    }
    const Utf8Sequence sequence = nextUtf8Sequence(bytes.substr(i));
    if (sequence.wellFormed) {
      out.append(bytes.substr(i, sequence.length));
    } else {
      out.append(replacement);
    }
    i += sequence.length;
  }
}

std::string repairedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  appendRepairedUtf8(out, bytes);
  return out;
}

}  // namespace tondrel
