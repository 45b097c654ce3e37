// What the server's keyboard events mean on X: the ANSI-layout key codes and
// flag masks of the portable key tables as X keysyms, and typed characters
// as keysyms. Pure tables; no connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "x11/xlib.h"

namespace kestrum::computer::x11 {

// The keysym of a virtual key code from the portable tables; absent for a
// code no table names.
std::optional<KeySym> keysym_of_code(std::uint16_t code);

// The modifier keysyms of an event flag mask, in pressing order: command is
// Super_L (Mod4), control Control_L, option Alt_L (Mod1), shift Shift_L.
std::vector<KeySym> modifier_keysyms(std::uint64_t flags);

// The keysym that types one character: Latin-1 characters are their own
// keysyms, line feed and carriage return are Return, tab is Tab, others
// are Unicode keysyms (0x01000000 + the scalar value).
KeySym keysym_of_character(char32_t character);

// Scalar values of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::u32string scalars_of_utf16(std::u16string_view units);

}  // namespace kestrum::computer::x11
