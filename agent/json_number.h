// Judging JSON numbers by their exact decimal value, from their text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tondrel {

// A JSON number as far as commands care: whole within the signed 64-bit
// range (with its value), whole beyond it, or not whole.
struct JsonNumber {
  enum class Kind { whole, wholeOutOfRange, fraction };
  Kind kind = Kind::whole;
  std::int64_t whole = 0;
};

// Judges the JSON number `text` on its exact decimal value, however many
// digits or whatever exponent it has: 1.0, 10e-1 and 0.1e1 are the whole 1.
// `text` must be a JSON number.
JsonNumber judgeNumberText(std::string_view text);

// The length of the JSON number at the start of `text`, or 0 when none is.
std::size_t numberLength(std::string_view text);

}  // namespace tondrel
