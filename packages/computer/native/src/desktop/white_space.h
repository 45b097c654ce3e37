// Unicode white space (the White_Space property), for the places where
// text from outside is trimmed or judged blank: request lines and bundle
// names.
#pragma once

#include <string_view>

namespace kestrum::computer {

bool is_unicode_white_space(char32_t c);

// `text` without leading and trailing white space. Bytes that are not valid
// UTF-8 count as text, never as white space.
std::string_view trim_unicode_white_space(std::string_view text);

}  // namespace kestrum::computer
