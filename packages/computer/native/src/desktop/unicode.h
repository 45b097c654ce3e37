// Text as the UTF-16 code units the system's keyboard events carry, from the
// Unicode scalar values that base/utf8.h reads.
#pragma once

#include <string>
#include <string_view>

#include "base/utf8.h"

namespace kestrum::computer {

// Scalars above U+FFFF take two code units (a surrogate pair).
std::u16string utf16_from_scalars(std::u32string_view scalars);

}  // namespace kestrum::computer
