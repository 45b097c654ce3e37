// UTF-8 checks and the lossy conversion used wherever bytes from outside
// (paths, heads, environment names) are shown or matched as text.
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// Whether overlong forms of two and three bytes (C0 A0 for a space) count
// as the characters their bits spell. The sandbox's proxy settings refuse
// them; the computer has always trimmed them as white space.
enum class Overlong { kRefused, kAccepted };

// Length of the valid UTF-8 prefix of `bytes` (its whole size when valid).
std::size_t valid_utf8_prefix(std::string_view bytes);

inline bool is_valid_utf8(std::string_view bytes) {
  return valid_utf8_prefix(bytes) == bytes.size();
}

// The bytes as text, every maximal ill-formed subpart replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The same as Unicode scalar values.
std::u32string unicode_scalars(std::string_view bytes);

// `text` without leading and trailing Unicode white space (the White_Space
// property). Ill-formed bytes count as text, never as white space.
std::string_view trim_unicode_white_space(std::string_view text, Overlong overlong);

// Appends one Unicode scalar value as UTF-8. The caller keeps surrogates
// and values above U+10FFFF out.
void append_utf8(std::string& out, char32_t c);

}  // namespace kestrum
