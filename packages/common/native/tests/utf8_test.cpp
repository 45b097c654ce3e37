#include "base/utf8.h"

#include <gtest/gtest.h>

#include <optional>

namespace kestrum {
namespace {

TEST(WhiteSpace, TrimsUnicodeWhiteSpaceOnly) {
  const struct {
    std::string text;
    std::string want;
    std::optional<std::string> overlong = std::nullopt;  // with Overlong::kAccepted, if other
  } cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  a b  ", "a b"},
      {"\xc2\x85x\xc2\xa0", "x"},                                  // U+0085, U+00A0
      {"\xe1\x9a\x80x\xe2\x80\x8a", "x"},                          // U+1680, U+200A
      {"\xe2\x80\xa8\xe2\x80\xa9x\xe2\x80\xaf", "x"},              // U+2028, U+2029, U+202F
      {"\xe2\x81\x9fx\xe3\x80\x80", "x"},                          // U+205F, U+3000
      {"\xe2\x80\x8bx\xe2\x80\x8b", "\xe2\x80\x8bx\xe2\x80\x8b"},  // U+200B is not white space
      {"\xef\xbb\xbfx", "\xef\xbb\xbfx"},                          // nor the byte-order mark
      {"\x1c\x1dx", "\x1c\x1dx"},                                  // nor the information separators
      {"\xa0x\xa0", "\xa0x\xa0"},                                  // stray bytes are text
      {"\xc2x", "\xc2x"},
      {"\xc0\xa0x\xe0\x82\x85", "\xc0\xa0x\xe0\x82\x85", "x"},  // overlong U+0020, U+0085
      {"\xf0\x80\x80\xa0x", "\xf0\x80\x80\xa0x"},               // never in four bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trim_unicode_white_space(c.text, Overlong::kRefused), c.want);
    EXPECT_EQ(trim_unicode_white_space(c.text, Overlong::kAccepted), c.overlong.value_or(c.want));
  }
}

}  // namespace
}  // namespace kestrum
