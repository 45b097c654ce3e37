// Text as Unicode scalar values and as the UTF-16 code units the system's
// keyboard events carry.
#pragma once

#include <string>
#include <string_view>

namespace kestrum::computer {

// Ill-formed bytes become U+FFFD, so the result is always scalar values.
std::u32string unicode_scalars(std::string_view utf8);

// Scalars above U+FFFF take two code units (a surrogate pair).
std::u16string utf16_from_scalars(std::u32string_view scalars);

}  // namespace kestrum::computer
