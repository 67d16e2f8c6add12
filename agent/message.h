// Message objects and the JSON form the agent writes them in.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tondrel {

// Absent (std::monostate, written as null), a string, a signed 64-bit integer,
// a boolean, or a list of strings.
using Value =
    std::variant<std::monostate, std::string, std::int64_t, bool, std::vector<std::string>>;

struct Field {
  std::string key;
  Value value;
};

// Every producer puts every key of its message in, absent values included.
using Message = std::vector<Field>;

// Compact JSON: keys in the order given; the quotation mark, reverse solidus,
// solidus and every control character escaped; other characters as UTF-8
// bytes. Ill-formed UTF-8 in a string is repaired rather than refused, so a
// message always serialises and a reply is never lost to a bad byte.
void appendJson(std::string& out, const Message& message);
std::string toJson(const Message& message);

}  // namespace tondrel
