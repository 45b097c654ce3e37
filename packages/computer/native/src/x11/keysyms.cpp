#include "x11/keysyms.h"

#include "desktop/keys.h"

namespace kestrum::computer::x11 {
namespace {

struct CodeKeysym {
  std::uint16_t code;
  KeySym keysym;
};
// The named and function keys of the portable tables, by their codes.
constexpr CodeKeysym kNamedKeysyms[] = {
    {36, XK_Return},  {48, XK_Tab},    {49, XK_space}, {51, XK_BackSpace}, {53, XK_Escape},
    {117, XK_Delete}, {115, XK_Home},  {119, XK_End},  {116, XK_Prior},    {121, XK_Next},
    {123, XK_Left},   {124, XK_Right}, {125, XK_Down}, {126, XK_Up},       {122, XK_F1},
    {120, XK_F2},     {99, XK_F3},     {118, XK_F4},   {96, XK_F5},        {97, XK_F6},
    {98, XK_F7},      {100, XK_F8},    {101, XK_F9},   {109, XK_F10},      {103, XK_F11},
    {111, XK_F12},
};

struct MaskKeysym {
  std::uint64_t mask;
  KeySym keysym;
};
constexpr MaskKeysym kModifierKeysyms[] = {
    {0x40000, XK_Control_L},  // control
    {0x80000, XK_Alt_L},      // option
    {0x20000, XK_Shift_L},    // shift
    {0x100000, XK_Super_L},   // command
};

constexpr KeySym kUnicodeKeysyms = 0x01000000;

bool is_latin1(char32_t c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF); }

}  // namespace

std::optional<KeySym> keysym_of_code(std::uint16_t code) {
  for (const CharacterCode& entry : kCharacterCodes) {
    // ASCII characters are their own keysyms.
    if (entry.code == code) return static_cast<KeySym>(entry.character);
  }
  for (const CodeKeysym& entry : kNamedKeysyms) {
    if (entry.code == code) return entry.keysym;
  }
  return std::nullopt;
}

std::vector<KeySym> modifier_keysyms(std::uint64_t flags) {
  std::vector<KeySym> keysyms;
  for (const MaskKeysym& entry : kModifierKeysyms) {
    if ((flags & entry.mask) != 0) keysyms.push_back(entry.keysym);
  }
  return keysyms;
}

KeySym keysym_of_character(char32_t character) {
  switch (character) {
    case U'\n':
    case U'\r':
      return XK_Return;
    case U'\t':
      return XK_Tab;
    default:
      break;
  }
  if (is_latin1(character)) return character;
  return kUnicodeKeysyms + character;
}

std::u32string scalars_of_utf16(std::u16string_view units) {
  std::u32string scalars;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low_next = i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
    if (high && low_next) {
      scalars += 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      scalars += U'\uFFFD';
    } else {
      scalars += unit;
    }
  }
  return scalars;
}

}  // namespace kestrum::computer::x11
