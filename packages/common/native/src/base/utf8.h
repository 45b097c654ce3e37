// UTF-8 checks and the lossy conversion used wherever bytes from outside
// (paths, heads, environment names) are shown or matched as text.
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// Length of the valid UTF-8 prefix of `bytes` (its whole size when valid).
std::size_t valid_utf8_prefix(std::string_view bytes);

inline bool is_valid_utf8(std::string_view bytes) {
  return valid_utf8_prefix(bytes) == bytes.size();
}

// The bytes as text, every maximal ill-formed subpart replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The same as Unicode scalar values.
std::u32string unicode_scalars(std::string_view bytes);

// Appends one Unicode scalar value as UTF-8. The caller keeps surrogates
// and values above U+10FFFF out.
void append_utf8(std::string& out, char32_t c);

}  // namespace kestrum
