#include "agent/utf8.h"

namespace tondrel {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at the start of `s`, or 0 with `bad` set
// to the length of the maximal ill-formed subpart there (at least 1).
std::size_t sequenceLength(std::string_view s, std::size_t& bad) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  std::size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 == 0xE0) {
    need = 2;
    lo = 0xA0;
  } else if (b0 >= 0xE1 && b0 <= 0xEC) {
    need = 2;
  } else if (b0 == 0xED) {
    need = 2;
    hi = 0x9F;
  } else if (b0 >= 0xEE && b0 <= 0xEF) {
    need = 2;
  } else if (b0 == 0xF0) {
    need = 3;
    lo = 0x90;
  } else if (b0 >= 0xF1 && b0 <= 0xF3) {
    need = 3;
  } else if (b0 == 0xF4) {
    need = 3;
    hi = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  // The second byte has its own range; the later ones are plain continuations.
  for (std::size_t k = 1; k <= need; ++k) {
    if (k >= s.size()) {
      bad = k;
      return 0;
    }
    const auto b = static_cast<unsigned char>(s[k]);
    const unsigned char min = k == 1 ? lo : 0x80;
    const unsigned char max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) {
      bad = k;
      return 0;
    }
  }
  return need + 1;
}

}  // namespace

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
    std::size_t bad = 0;
    const std::size_t good = sequenceLength(bytes.substr(i), bad);
    if (good > 0) {
      out.append(bytes.substr(i, good));
      i += good;
    } else {
      out.append(replacement);
      i += bad;
    }
  }
}

std::string repairedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  appendRepairedUtf8(out, bytes);
  return out;
}

}  // namespace tondrel
