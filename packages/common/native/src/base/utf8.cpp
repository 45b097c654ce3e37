#include "base/utf8.h"

namespace kestrum {
namespace {

// What reading one character at the start of the bytes found.
struct Sequence {
  std::size_t size;  // of the character, or of the maximal ill-formed subpart
  char32_t value;    // only when well-formed
  bool well_formed;
};

// Follows the well-formed byte sequence table of the Unicode standard, so
// overlong forms, surrogates and values above U+10FFFF are refused; with
// Overlong::kAccepted, two- and three-byte sequences need only the right
// bit patterns.
Sequence read_sequence(std::string_view bytes, Overlong overlong = Overlong::kRefused) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, lead, true};
  const bool strict = overlong == Overlong::kRefused;
  std::size_t need = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= (strict ? 0xC2 : 0xC0) && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (strict && lead == 0xE0) low = 0xA0;
    if (strict && lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, 0, false};
  }
  char32_t value = lead & (0x3F >> need);
  for (std::size_t i = 1; i <= need; ++i) {
    if (i >= bytes.size()) return {i, 0, false};
    const unsigned char c = byte(i);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return {i, 0, false};
    value = (value << 6) | (c & 0x3F);
  }
  return {need + 1, value, true};
}

// The White_Space property, as inclusive ranges.
struct Range {
  char32_t first;
  char32_t last;
};
constexpr Range kWhiteSpace[] = {
    {0x0009, 0x000D}, {0x0020, 0x0020}, {0x0085, 0x0085}, {0x00A0, 0x00A0}, {0x1680, 0x1680},
    {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000},
};

bool is_white_space(char32_t c) {
  for (const Range& range : kWhiteSpace) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

// Length of the white-space character starting at `at`, or 0.
std::size_t space_at(std::string_view text, std::size_t at, Overlong overlong) {
  const Sequence s = read_sequence(text.substr(at), overlong);
  return s.well_formed && is_white_space(s.value) ? s.size : 0;
}

// Length of the white-space character ending just before `end`, or 0. White
// space takes at most three bytes, overlong forms included.
std::size_t space_before(std::string_view text, std::size_t end, Overlong overlong) {
  for (std::size_t length = 1; length <= 3 && length <= end; ++length) {
    if (space_at(text, end - length, overlong) == length) return length;
  }
  return 0;
}

}  // namespace

std::size_t valid_utf8_prefix(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const Sequence s = read_sequence(bytes.substr(at));
    if (!s.well_formed) return at;
    at += s.size;
  }
  return at;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const Sequence s = read_sequence(bytes);
    out.append(s.well_formed ? bytes.substr(0, s.size) : "\xEF\xBF\xBD");
    bytes.remove_prefix(s.size);
  }
  return out;
}

std::u32string unicode_scalars(std::string_view bytes) {
  std::u32string scalars;
  while (!bytes.empty()) {
    const Sequence s = read_sequence(bytes);
    scalars.push_back(s.well_formed ? s.value : U'\uFFFD');
    bytes.remove_prefix(s.size);
  }
  return scalars;
}

std::string_view trim_unicode_white_space(std::string_view text, Overlong overlong) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t length = space_at(text, start, overlong);
    if (length == 0) break;
    start += length;
  }
  std::size_t end = text.size();
  while (end > start) {
    const std::size_t length = space_before(text, end, overlong);
    if (length == 0) break;
    end -= length;
  }
  return text.substr(start, end - start);
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
