// Key combinations as the "key" request names them ("cmd+shift+t"), and the
// ANSI-layout virtual key codes and flag masks the system's keyboard events
// take. Pure: no desktop, no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"

namespace kestrum::computer {

enum class NamedKey {
  kReturn,
  kTab,
  kEscape,
  kBackspace,
  kForwardDelete,
  kSpace,
  kUp,
  kDown,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
};

// One Unicode scalar value; ASCII capitals are already small letters.
struct CharacterKey {
  char32_t character = 0;
  bool operator==(const CharacterKey&) const = default;
};

struct FunctionKey {
  std::uint8_t number = 1;  // 1 to 12
  bool operator==(const FunctionKey&) const = default;
};

using KeySpec = std::variant<CharacterKey, NamedKey, FunctionKey>;

struct Modifiers {
  bool command = false;
  bool control = false;
  bool option = false;
  bool shift = false;
  bool operator==(const Modifiers&) const = default;
};

struct KeyCombination {
  KeySpec key;
  Modifiers modifiers;
  bool operator==(const KeyCombination&) const = default;
};

inline constexpr std::string_view kNoKeyCode = "this key has no key code on this keyboard";

// Fails with `"piece" is not a modifier` or `"piece" is not a key`, the
// piece as written. Any single character is accepted as a key here; whether
// the keyboard has it is key_code's question.
Result<KeyCombination> parse_keys(std::string_view text);

// Fails only with kNoKeyCode, for character keys outside the table.
Result<std::uint16_t> key_code(const KeySpec& key);

// The event flags for the modifiers; 0 when none is named.
std::uint64_t modifier_mask(const Modifiers& modifiers);

}  // namespace kestrum::computer
