#include "agent/message.h"

#include "common/utf8.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace tondrel {

namespace {

// For each ASCII byte: 0 when it is written as it is, otherwise the character
// after the reverse solidus ('u' for the \u00XX form).
constexpr auto escapes = [] {
  std::array<char, 128> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table[0x7F] = 'u';  // DEL, which some readers treat as a control character
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['\b'] = 'b';
  table['\f'] = 'f';
  return table;
}();

// Whether none of the eight bytes of the word needs a second look: no control
// character, no quotation mark, solidus or reverse solidus, no DEL and nothing
// outside ASCII. Most of every line passes this test eight bytes at a time.
bool plainWord(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101u;
  constexpr std::uint64_t highs = 0x8080808080808080u;
  const auto anyZero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t special = ((word - ones * 0x20) & ~word & highs) |
                                anyZero(word ^ (ones * '"')) | anyZero(word ^ (ones * '/')) |
                                anyZero(word ^ (ones * '\\')) | anyZero(word ^ (ones * 0x7F)) |
                                (word & highs);
  return special == 0;
}

// How many bytes at the start of `text` are written as they are.
std::size_t plainLength(std::string_view text) {
  std::size_t i = 0;
  for (std::uint64_t word; i + sizeof word <= text.size(); i += sizeof word) {
    std::memcpy(&word, text.data() + i, sizeof word);
    if (!plainWord(word)) break;
  }
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80 || escapes[c] != 0) break;
    ++i;
  }
  return i;
}

void appendString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t plain = plainLength(text.substr(i));
    out.append(text.data() + i, plain);
    i += plain;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // A run of non-ASCII bytes, checked as UTF-8. No sequence, well-formed
      // or not, extends past an ASCII byte, so the run can end there.
      std::size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x80) ++end;
      appendRepairedUtf8(out, text.substr(i, end - i));
      i = end;
      continue;
    }
    const char escape = escapes[c];
    const char shortForm[2] = {'\\', escape};
    out.append(shortForm, 2);
    if (escape == 'u') {
      const char code[4] = {'0', '0', hex[c >> 4], hex[c & 0xF]};
      out.append(code, 4);
    }
    ++i;
  }
  out.push_back('"');
}

struct ValueWriter {
  std::string& out;
  void operator()(std::monostate) const { out.append("null"); }
  void operator()(const std::string& s) const { appendString(out, s); }
  void operator()(std::int64_t n) const {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, result.ptr);
  }
  void operator()(bool b) const { out.append(b ? "true" : "false"); }
  void operator()(const std::vector<std::string>& list) const {
    out.push_back('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i > 0) out.push_back(',');
      appendString(out, list[i]);
    }
    out.push_back(']');
  }
};

}  // namespace

void appendJson(std::string& out, const Message& message) {
  out.push_back('{');
  bool first = true;
  for (const Field& field : message) {
    if (!first) out.push_back(',');
    first = false;
    appendString(out, field.key);
    out.push_back(':');
    std::visit(ValueWriter{out}, field.value);
  }
  out.push_back('}');
}

std::string toJson(const Message& message) {
  std::string out;
  appendJson(out, message);
  return out;
}

}  // namespace tondrel
