#include "agent/message.h"

#include "agent/utf8.h"

#include <charconv>

namespace {

void appendString(std::string& out, const std::string& text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t start = 0;
  auto flush = [&](std::size_t end) {
    if (end > start) appendRepairedUtf8(out, std::string_view(text).substr(start, end - start));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const char* escape = nullptr;
    switch (c) {
      case '"': escape = "\\\""; break;
      case '\\': escape = "\\\\"; break;
      case '/': escape = "\\/"; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\t': escape = "\\t"; break;
      case '\b': escape = "\\b"; break;
      case '\f': escape = "\\f"; break;
      default: break;
    }
    if (escape == nullptr && c >= 0x20 && c != 0x7F) continue;
    flush(i);
    start = i + 1;
    if (escape != nullptr) {
      out.append(escape);
    } else {
      // Other control characters, and DEL, which some readers treat as one.
      out.append("\\u00");
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
