#include "place.h"

// RFC 6901: "~" and "/" inside a key are written as "~0" and "~1".
std::string escapedKey(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  for (const char c : key) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

std::string quotedText(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string describe(const nlohmann::json& value) {
  if (value.is_object()) return "an object";
  if (value.is_array()) return "an array";
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    constexpr std::size_t longest = 60;
    if (text.size() > longest) return quotedText(text.substr(0, longest)) + "...";
    return quotedText(text);
  }
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Place> Place::member(std::string_view key) const {
  if (!value_->is_object()) return std::nullopt;
  const auto found = value_->find(key);
  if (found == value_->end()) return std::nullopt;
  return Place(*found, memberPointer(key), *problem_);
}

std::optional<Place> Place::item(std::size_t index) const {
  if (!value_->is_array() || index >= value_->size()) return std::nullopt;
  return Place((*value_)[index], pointer_ + "/" + std::to_string(index), *problem_);
}

std::string Place::memberPointer(std::string_view key) const {
  return pointer_ + "/" + escapedKey(key);
}

bool Place::expected(std::string_view what) const {
  return problemAt(pointer_, "expected " + std::string(what) + ", found " + describe(*value_));
}

bool Place::problemAt(std::string pointer, std::string text) const {
  if (!problem_->found) {
    problem_->found = true;
    problem_->pointer = std::move(pointer);
    problem_->text = std::move(text);
  }
  return false;
}

bool Place::object(std::initializer_list<std::string_view> allowed) const {
  if (!value_->is_object()) return expected("an object");
  for (const auto& [key, value] : value_->items()) {
    bool known = false;
    for (const std::string_view name : allowed) known = known || key == name;
    if (known) continue;
    std::string names;
    for (const std::string_view name : allowed) {
      if (!names.empty()) names += ", ";
      names += quotedText(name);
    }
    return problemAt(memberPointer(key), "unknown key; expected one of " + names);
  }
  return true;
}

bool Place::array() const {
  if (!value_->is_array()) return expected("an array");
  return true;
}

bool readBool(const Place& place, bool& out) {
  if (!place.json().is_boolean()) return place.expected("true or false");
  out = place.json().get<bool>();
  return true;
}

bool readString(const Place& place, std::string& out) {
  if (!place.json().is_string()) return place.expected("a string");
  out = place.json().get<std::string>();
  return true;
}

bool readWhole(const Place& place, std::int64_t low, std::int64_t high, std::string_view what,
               std::int64_t& out) {
  const nlohmann::json& value = place.json();
  const std::string range = std::string(what) + ", a whole number from " + std::to_string(low) +
                            " to " + std::to_string(high);
  if (value.is_number_unsigned()) {
    // Stored unsigned only when it does not fit below 2^63 as well, or when it
    // was written without a sign; either way compare it unsigned.
    const auto number = value.get<std::uint64_t>();
    if (high < 0 || number > static_cast<std::uint64_t>(high)) return place.expected(range);
    out = static_cast<std::int64_t>(number);
  } else if (value.is_number_integer()) {
    out = value.get<std::int64_t>();
  } else {
    return place.expected(range);
  }
  if (out < low || out > high) return place.expected(range);
  return true;
}

bool readName(const Place& place, std::initializer_list<std::string_view> names, std::size_t& out) {
  std::string list;
  std::size_t i = 0;
  for (const std::string_view name : names) {
    if (place.json().is_string() && place.json().get_ref<const std::string&>() == name) {
      out = i;
      return true;
    }
    if (!list.empty()) list += i + 1 == names.size() ? " or " : ", ";
    list += quotedText(name);
    ++i;
  }
  return place.expected(list);
}
