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

// The tables below are in the header so that the macOS shell can check
// them against Apple's kVK_* and kCGEventFlagMask* constants at compile
// time (src/macos/key_constants.mm).

struct ModifierMask {
  bool Modifiers::*flag;
  std::uint64_t mask;
};
inline constexpr ModifierMask kModifierMasks[] = {
    {&Modifiers::command, 0x100000},  // kCGEventFlagMaskCommand
    {&Modifiers::control, 0x40000},   // kCGEventFlagMaskControl
    {&Modifiers::option, 0x80000},    // kCGEventFlagMaskAlternate
    {&Modifiers::shift, 0x20000},     // kCGEventFlagMaskShift
};

// The ANSI-layout codes; a character key outside this table has no code.
struct CharacterCode {
  char character;
  std::uint16_t code;
};
inline constexpr CharacterCode kCharacterCodes[] = {
    {'a', 0},   {'s', 1},  {'d', 2},  {'f', 3},  {'h', 4},  {'g', 5},   {'z', 6},  {'x', 7},
    {'c', 8},   {'v', 9},  {'b', 11}, {'q', 12}, {'w', 13}, {'e', 14},  {'r', 15}, {'y', 16},
    {'t', 17},  {'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'6', 22},  {'5', 23}, {'=', 24},
    {'9', 25},  {'7', 26}, {'-', 27}, {'8', 28}, {'0', 29}, {']', 30},  {'o', 31}, {'u', 32},
    {'[', 33},  {'i', 34}, {'p', 35}, {'l', 37}, {'j', 38}, {'\'', 39}, {'k', 40}, {';', 41},
    {'\\', 42}, {',', 43}, {'/', 44}, {'n', 45}, {'m', 46}, {'.', 47},  {'`', 50},
};

struct NamedKeyCode {
  NamedKey key;
  std::uint16_t code;
};
inline constexpr NamedKeyCode kNamedKeyCodes[] = {
    {NamedKey::kReturn, 36},    {NamedKey::kTab, 48},    {NamedKey::kSpace, 49},
    {NamedKey::kBackspace, 51}, {NamedKey::kEscape, 53}, {NamedKey::kForwardDelete, 117},
    {NamedKey::kHome, 115},     {NamedKey::kEnd, 119},   {NamedKey::kPageUp, 116},
    {NamedKey::kPageDown, 121}, {NamedKey::kLeft, 123},  {NamedKey::kRight, 124},
    {NamedKey::kDown, 125},     {NamedKey::kUp, 126},
};

// F1 to F12 in order.
inline constexpr std::uint16_t kFunctionKeyCodes[] = {122, 120, 99,  118, 96,  97,
                                                      98,  100, 101, 109, 103, 111};

// Fails with `"piece" is not a modifier` or `"piece" is not a key`, the
// piece as written. Any single character is accepted as a key here; whether
// the keyboard has it is key_code's question.
Result<KeyCombination> parse_keys(std::string_view text);

// Fails only with kNoKeyCode, for character keys outside the table.
Result<std::uint16_t> key_code(const KeySpec& key);

// The event flags for the modifiers; 0 when none is named.
std::uint64_t modifier_mask(const Modifiers& modifiers);

}  // namespace kestrum::computer
