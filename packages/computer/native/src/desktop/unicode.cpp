#include "desktop/unicode.h"

#include "base/utf8.h"

namespace kestrum::computer {
namespace {

// The number of bytes of the sequence led by `lead`, in valid UTF-8.
std::size_t sequence_size(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// The payload bits of the lead byte, by sequence size.
constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};

}  // namespace

std::u32string unicode_scalars(std::string_view utf8) {
  // Decoding below trusts the form; the lossy copy makes that true.
  const std::string valid = utf8_lossy(utf8);
  std::u32string scalars;
  for (std::size_t at = 0; at < valid.size();) {
    const auto lead = static_cast<unsigned char>(valid[at]);
    const std::size_t size = sequence_size(lead);
    char32_t value = lead & kLeadBits[size];
    for (std::size_t i = 1; i < size; ++i) {
      value = (value << 6) | (static_cast<unsigned char>(valid[at + i]) & 0x3F);
    }
    scalars.push_back(value);
    at += size;
  }
  return scalars;
}

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
