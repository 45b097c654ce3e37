#include "desktop/white_space.h"

#include <cstdint>

namespace kestrum::computer {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

constexpr Range kWhiteSpace[] = {
    {0x0009, 0x000D}, {0x0020, 0x0020}, {0x0085, 0x0085}, {0x00A0, 0x00A0}, {0x1680, 0x1680},
    {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000},
};

// Every white-space character is at most three bytes long.
struct Decoded {
  char32_t c = 0;
  std::size_t length = 0;  // 0: not a white-space candidate
};

Decoded decode_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
  const std::size_t left = text.size() - at;
  if (byte(0) < 0x80) return {byte(0), 1};
  if ((byte(0) & 0xE0) == 0xC0 && left >= 2 && (byte(1) & 0xC0) == 0x80) {
    return {static_cast<char32_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F)), 2};
  }
  if ((byte(0) & 0xF0) == 0xE0 && left >= 3 && (byte(1) & 0xC0) == 0x80 &&
      (byte(2) & 0xC0) == 0x80) {
    return {static_cast<char32_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                  (byte(2) & 0x3F)),
            3};
  }
  return {};
}

// Length of the white-space character starting at `at`, or 0.
std::size_t space_at(std::string_view text, std::size_t at) {
  const Decoded d = decode_at(text, at);
  return d.length > 0 && is_unicode_white_space(d.c) ? d.length : 0;
}

// Length of the white-space character ending just before `end`, or 0.
std::size_t space_before(std::string_view text, std::size_t end) {
  for (std::size_t length = 1; length <= 3 && length <= end; ++length) {
    const std::size_t start = end - length;
    if (space_at(text, start) == length) return length;
  }
  return 0;
}

}  // namespace

bool is_unicode_white_space(char32_t c) {
  for (const Range& range : kWhiteSpace) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t length = space_at(text, start);
    if (length == 0) break;
    start += length;
  }
  std::size_t end = text.size();
  while (end > start) {
    const std::size_t length = space_before(text, end);
    if (length == 0) break;
    end -= length;
  }
  return text.substr(start, end - start);
}

}  // namespace kestrum::computer
