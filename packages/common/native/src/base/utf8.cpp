#include "base/utf8.h"

namespace kestrum {
namespace {

// Length of the well-formed sequence at the start of `bytes`, or the length
// of its maximal ill-formed subpart negated (at least 1) when there is none.
// Follows the well-formed byte sequence table of the Unicode standard, so
// overlong forms, surrogates and values above U+10FFFF are refused.
long sequence_length(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  int need = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF)
    need = 1;
  else if (lead == 0xE0)
    need = 2, low = 0xA0;
  else if (lead == 0xED)
    need = 2, high = 0x9F;
  else if (lead >= 0xE1 && lead <= 0xEF)
    need = 2;
  else if (lead == 0xF0)
    need = 3, low = 0x90;
  else if (lead == 0xF4)
    need = 3, high = 0x8F;
  else if (lead >= 0xF1 && lead <= 0xF3)
    need = 3;
  else
    return -1;
  for (int i = 1; i <= need; ++i) {
    if (static_cast<std::size_t>(i) >= bytes.size()) return -i;
    const unsigned char c = byte(static_cast<std::size_t>(i));
    const unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
    if (c < lo || c > hi) return -i;
  }
  return need + 1;
}

}  // namespace

std::size_t valid_utf8_prefix(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const long n = sequence_length(bytes.substr(at));
    if (n < 0) return at;
    at += static_cast<std::size_t>(n);
  }
  return at;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t valid = valid_utf8_prefix(bytes);
    out.append(bytes.substr(0, valid));
    bytes.remove_prefix(valid);
    if (bytes.empty()) break;
    const long bad = -sequence_length(bytes);
    out.append("\xEF\xBF\xBD");
    bytes.remove_prefix(static_cast<std::size_t>(bad));
  }
  return out;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace kestrum
