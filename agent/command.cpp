// Reading one command line.
//
// The line is read with nlohmann/json's event interface rather than into a
// document: only four keys of the top-level object matter, a document of deep
// nesting would recurse when copied, and the events hand over the exact text
// of every number that is not a plain 64-bit integer, so whole numbers can be
// judged on their exact value instead of a rounded double.
#include "agent/command.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "agent/json_number.h"

namespace tondrel {

namespace {

// What a key of the top-level object held, as far as the checks care.
struct Field {
  enum class Kind { missing, string, whole, wholeOutOfRange, otherNumber, boolean, other };
  Kind kind = Kind::missing;
  std::int64_t whole = 0;
  std::string text;
};

Field wholeField(std::int64_t value) { return {Field::Kind::whole, value, {}}; }

// A number given as text, judged on its exact value.
Field judged(std::string_view text) {
  const JsonNumber number = judgeNumberText(text);
  switch (number.kind) {
    case JsonNumber::Kind::whole:
      return wholeField(number.whole);
    case JsonNumber::Kind::wholeOutOfRange:
      return {Field::Kind::wholeOutOfRange, 0, {}};
    case JsonNumber::Kind::fraction:
      break;
  }
  return {Field::Kind::otherNumber, 0, {}};
}

// Receives the parser's events and keeps what the checks need of the
// top-level object. A key given twice counts with its last value.
class CommandReader {
 public:
  using json = nlohmann::json;

  bool null() { return scalar({Field::Kind::other, 0, {}}); }
  bool boolean(bool) { return scalar({Field::Kind::boolean, 0, {}}); }
  bool number_integer(json::number_integer_t value) { return scalar(wholeField(value)); }
  bool number_unsigned(json::number_unsigned_t value) {
    if (value > static_cast<json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
      return scalar({Field::Kind::wholeOutOfRange, 0, {}});
    }
    return scalar(wholeField(static_cast<std::int64_t>(value)));
  }
  bool number_float(json::number_float_t, const json::string_t& text) {
    return scalar(judged(text));
  }
  bool string(json::string_t& value) {
    if (inBundleIds_ && depth_ == 2) {
      bundleIds_.push_back(std::move(value));
      return true;
    }
    return scalar({Field::Kind::string, 0, std::move(value)});
  }
  bool binary(json::binary_t&) { return scalar({Field::Kind::other, 0, {}}); }

  bool start_object(std::size_t) {
    if (depth_ == 0) topIsObject_ = true;
    container();
    ++depth_;
    return true;
  }
  bool key(json::string_t& name) {
    if (depth_ == 1) key_ = std::move(name);
    return true;
  }
  bool end_object() {
    --depth_;
    return true;
  }
  bool start_array(std::size_t) {
    container();
    if (depth_ == 1 && key_ == "bundleIds") {
      inBundleIds_ = true;
      bundleIdsValid_ = true;
      bundleIds_.clear();
    }
    ++depth_;
    return true;
  }
  bool end_array() {
    --depth_;
    if (depth_ == 1) inBundleIds_ = false;
    return true;
  }

  template <typename Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    return false;
  }

  bool topIsObject() const { return topIsObject_; }
  const Field& cmd() const { return cmd_; }
  const Field& id() const { return id_; }
  const Field& pid() const { return pid_; }
  // The identifiers when "bundleIds" is an array of strings only.
  std::optional<std::vector<std::string>> takeBundleIds() {
    if (!bundleIdsValid_) return std::nullopt;
    return std::move(bundleIds_);
  }

 private:
  // A value that is not a container.
  bool scalar(Field field) {
    if (depth_ == 1) {
      assign(std::move(field));
    } else if (inBundleIds_ && depth_ == 2) {
      bundleIdsValid_ = false;  // strings arrive through string()
    }
    return true;
  }

  // The start of an object or array; counted before the depth goes up.
  void container() {
    if (depth_ == 1) {
      assign({Field::Kind::other, 0, {}});
    } else if (inBundleIds_ && depth_ == 2) {
      bundleIdsValid_ = false;
    }
  }

  void assign(Field field) {
    if (key_ == "cmd") {
      cmd_ = std::move(field);
    } else if (key_ == "id") {
      id_ = std::move(field);
    } else if (key_ == "pid") {
      pid_ = std::move(field);
    } else if (key_ == "bundleIds") {
      // Anything but an array; an array starts afresh in start_array().
      bundleIdsValid_ = false;
      bundleIds_.clear();
    }
  }

  std::size_t depth_ = 0;
  bool topIsObject_ = false;
  std::string key_;
  Field cmd_;
  Field id_;
  Field pid_;
  bool inBundleIds_ = false;
  bool bundleIdsValid_ = false;
  std::vector<std::string> bundleIds_;
};

// The parser refuses a number beyond the range of a double ("1e400") although
// it is valid JSON, which would cost a command whose other keys carry one. Such
// a number is never a usable id or pid, so it is replaced by a finite stand-in
// that the checks judge alike: a whole number out of range, or a fraction. Only
// whole tokens outside strings are replaced, so no invalid line becomes valid.
// Answers `line` itself when there is nothing to replace.
std::string_view withFiniteNumbers(std::string_view line, std::string& storage) {
  constexpr auto npos = std::string_view::npos;
  constexpr std::string_view separators = " \t\r\n,:[";
  constexpr std::string_view numberBytes = "0123456789.eE+-";
  std::size_t copied = 0;  // bytes of `line` already in `storage`
  bool replaced = false;
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
      continue;
    }
    if (c != '-' && (c < '0' || c > '9')) continue;
    const std::string_view token = line.substr(i, numberLength(line.substr(i)));
    if (token.empty()) continue;
    const std::size_t end = i + token.size();
    const bool whole = (i == 0 || separators.find(line[i - 1]) != npos) &&
                       (end == line.size() || numberBytes.find(line[end]) == npos);
    // Only an exponent or more than 308 digits can take a number beyond a double.
    if (whole && (token.find_first_of("eE") != npos || token.size() > 308) &&
        std::isinf(std::strtod(std::string(token).c_str(), nullptr))) {
      storage.append(line, copied, i - copied);
      storage.append(judgeNumberText(token).kind == JsonNumber::Kind::wholeOutOfRange ? "1e300"
                                                                                      : "0.5");
      copied = end;
      replaced = true;
    }
    i = end - 1;  // the loop steps past the token's last byte
  }
  if (!replaced) return line;
  storage.append(line, copied);
  return storage;
}

}  // namespace

std::optional<Command> parseCommand(std::string_view line) {
  // The parser would take a NUL for the end of input and accept whatever came
  // before it; no JSON text holds a raw NUL, so such a line is not one.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  std::string storage;
  const std::string_view text = withFiniteNumbers(line, storage);
  CommandReader reader;
  if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader)) return std::nullopt;
  if (!reader.topIsObject()) return std::nullopt;
  if (reader.cmd().kind != Field::Kind::string || reader.cmd().text != "page-urls") {
    return std::nullopt;
  }
  if (reader.id().kind != Field::Kind::whole) return std::nullopt;

  Command command;
  command.id = reader.id().whole;
  switch (reader.pid().kind) {
    case Field::Kind::boolean:
    case Field::Kind::wholeOutOfRange:
      return std::nullopt;
    case Field::Kind::whole:
      if (reader.pid().whole < std::numeric_limits<pid_t>::min() ||
          reader.pid().whole > std::numeric_limits<pid_t>::max()) {
        return std::nullopt;
      }
      command.pid = static_cast<pid_t>(reader.pid().whole);
      return command;
    default:
      break;
  }
  command.bundleIds = reader.takeBundleIds().value_or(std::vector<std::string>{});
  return command;
}

}  // namespace tondrel
