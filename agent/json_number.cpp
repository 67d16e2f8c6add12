#include "agent/json_number.h"

#include <algorithm>
#include <string>

namespace tondrel {

namespace {

JsonNumber whole(std::int64_t value) { return {JsonNumber::Kind::whole, value}; }

}  // namespace

JsonNumber judgeNumberText(std::string_view text) {
  std::size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  auto isDigit = [&text](std::size_t at) {
    return at < text.size() && text[at] >= '0' && text[at] <= '9';
  };
  std::string digits;  // integer and fraction digits together
  std::int64_t fractionDigits = 0;
  while (isDigit(i)) digits.push_back(text[i++]);
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (isDigit(i)) {
      digits.push_back(text[i++]);
      ++fractionDigits;
    }
  }
  // Exponents beyond any line's length all mean the same here, so they are
  // capped rather than allowed to overflow.
  constexpr std::int64_t exponentCap = std::int64_t{1} << 50;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
    while (isDigit(i)) {
      exponent = std::min(exponentCap, exponent * 10 + (text[i++] - '0'));
    }
    if (negativeExponent) exponent = -exponent;
  }

  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return whole(0);
  digits.erase(0, first);
  // The value is digits * 10^scale, with no trailing zero left in digits.
  std::int64_t scale = exponent - fractionDigits;
  while (digits.back() == '0') {
    digits.pop_back();
    ++scale;
  }
  if (scale < 0) return {JsonNumber::Kind::fraction, 0};
  constexpr std::size_t maxDigits = 19;  // 2^63 has 19 digits
  if (static_cast<std::int64_t>(digits.size()) + scale > static_cast<std::int64_t>(maxDigits)) {
    return {JsonNumber::Kind::wholeOutOfRange, 0};
  }
  digits.append(static_cast<std::size_t>(scale), '0');
  const std::string_view limit = negative ? "9223372036854775808" : "9223372036854775807";
  if (digits.size() == maxDigits && std::string_view(digits) > limit) {
    return {JsonNumber::Kind::wholeOutOfRange, 0};
  }
  std::uint64_t magnitude = 0;
  for (char digit : digits) magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
  // Wraps modulo 2^64, which gives -2^63 for its own magnitude.
  return whole(static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude));
}

std::size_t numberLength(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&text, &i] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && text[i] == '-') ++i;
  if (i < text.size() && text[i] == '0') {
    ++i;
  } else if (digits() == 0) {
    return 0;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (digits() == 0) return 0;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return 0;
  }
  return i;
}

}  // namespace tondrel
