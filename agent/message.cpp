#include "agent/message.h"

#include "agent/utf8.h"

#include <array>
#include <charconv>

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

void appendString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t start = 0;
  bool ascii = true;  // whether text[start, i) is plain ASCII
  auto flush = [&](std::size_t end) {
    if (end == start) return;
    if (ascii) {
      out.append(text.substr(start, end - start));
    } else {
      appendRepairedUtf8(out, text.substr(start, end - start));
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      ascii = false;
      continue;
    }
    const char escape = escapes[c];
    if (escape == 0) continue;
    flush(i);
    start = i + 1;
    ascii = true;
    out.push_back('\\');
    out.push_back(escape);
    if (escape == 'u') {
      out.append("00");
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 0xF]);
    }
  }
  flush(text.size());
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
