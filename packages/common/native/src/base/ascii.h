// ASCII-only text rules: protocol names and host names are compared, and
// decimal numbers read, this way, never with locale rules.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrum {

inline char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string ascii_lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

inline bool ascii_iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

// The signs a decimal number may start with.
enum class Sign { kNone, kPlus, kPlusOrMinus };

// `text` as a decimal number of type T: a sign where `sign` allows one (a
// minus only for signed types), then one or more ASCII digits, leading zeros
// allowed, within T's range. Nothing else, not even white space.
template <std::integral T>
std::optional<T> parse_decimal(std::string_view text, Sign sign = Sign::kNone) {
  bool negative = false;
  if (!text.empty() && sign != Sign::kNone &&
      (text.front() == '+' ||
       (text.front() == '-' && sign == Sign::kPlusOrMinus && std::is_signed_v<T>))) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulated as a magnitude, so that the most negative value fits.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  return static_cast<T>(negative ? 0 - magnitude : magnitude);
}

}  // namespace kestrum
