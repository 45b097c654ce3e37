#include "desktop/unicode.h"

namespace kestrum::computer {

std::u16string utf16_from_scalars(std::u32string_view scalars) {
  std::u16string units;
  for (const char32_t scalar : scalars) {
    if (scalar < 0x10000) {
      units.push_back(static_cast<char16_t>(scalar));
      continue;
    }
    const char32_t offset = scalar - 0x10000;
    units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
  }
  return units;
}

}  // namespace kestrum::computer
