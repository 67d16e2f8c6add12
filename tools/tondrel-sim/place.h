// A place in a parsed scenario: a value with its JSON pointer, and the one
// problem slot that the checks of a whole file share. The first problem found
// is the one reported; later checks see that one is set and stop.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// A key as a JSON pointer writes it: "~" and "/" become "~0" and "~1".
std::string escapedKey(std::string_view key);

struct Problem {
  bool found = false;
  std::string pointer;
  std::string text;
};

class Place {
 public:
  Place(const nlohmann::json& value, std::string pointer, Problem& problem)
      : value_(&value), pointer_(std::move(pointer)), problem_(&problem) {}

  const nlohmann::json& json() const { return *value_; }
  const std::string& pointer() const { return pointer_; }

  // The member of an object, when present.
  std::optional<Place> member(std::string_view key) const;
  std::optional<Place> item(std::size_t index) const;
  // The pointer a member would have, for a problem with a missing key.
  std::string memberPointer(std::string_view key) const;

  // Records "expected <what>, found <this value>" and answers false.
  bool expected(std::string_view what) const;
  // Records a problem at another place (a missing key, for instance).
  bool problemAt(std::string pointer, std::string text) const;

  // Checks that this is an object whose keys are all among `allowed`.
  bool object(std::initializer_list<std::string_view> allowed) const;
  bool array() const;

  Problem& problem() const { return *problem_; }

 private:
  const nlohmann::json* value_;
  std::string pointer_;
  Problem* problem_;
};

// Short description of a value for a message: the value itself for scalars
// (long strings cut), "an object" or "an array" for the rest.
std::string describe(const nlohmann::json& value);

// Typed reads. Each answers false, with the problem recorded, when the value
// is not what is asked for.
bool readBool(const Place& place, bool& out);
bool readString(const Place& place, std::string& out);
// A whole number from `low` to `high`; `what` names it in the message.
bool readWhole(const Place& place, std::int64_t low, std::int64_t high, std::string_view what,
               std::int64_t& out);
// One of the names given; answers its index.
bool readName(const Place& place, std::initializer_list<std::string_view> names, std::size_t& out);

// Reads member `key` with `read` when present; answers true when it is absent.
template <typename Read>
bool optionalMember(const Place& object, std::string_view key, Read read) {
  const std::optional<Place> member = object.member(key);
  if (!member) return true;
  return read(*member);
}

// Reads member `key` with `read`; records a problem when it is absent.
template <typename Read>
bool requiredMember(const Place& object, std::string_view key, std::string_view what, Read read) {
  const std::optional<Place> member = object.member(key);
  if (!member) {
    return object.problemAt(object.memberPointer(key), "missing; expected " + std::string(what));
  }
  return read(*member);
}
