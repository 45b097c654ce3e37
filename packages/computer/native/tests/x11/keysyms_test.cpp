// gtest before any X header: Xlib defines None, which gtest names too.
// clang-format off
#include <gtest/gtest.h>
#include "x11/keysyms.h"
// clang-format on

#include "desktop/keys.h"

namespace kestrum::computer::x11 {
namespace {

TEST(Keysyms, EveryPortableKeyCodeHasAKeysym) {
  for (const CharacterCode& entry : kCharacterCodes) {
    EXPECT_EQ(keysym_of_code(entry.code), static_cast<KeySym>(entry.character)) << entry.character;
  }
  for (const NamedKeyCode& entry : kNamedKeyCodes) EXPECT_TRUE(keysym_of_code(entry.code));
  for (std::size_t i = 0; i < std::size(kFunctionKeyCodes); ++i) {
    EXPECT_EQ(keysym_of_code(kFunctionKeyCodes[i]), XK_F1 + i);
  }
  const struct {
    std::uint16_t code;
    KeySym keysym;
  } named[] = {{36, XK_Return}, {117, XK_Delete}, {116, XK_Prior}, {126, XK_Up}, {49, XK_space}};
  for (const auto& n : named) EXPECT_EQ(keysym_of_code(n.code), n.keysym) << n.code;
  EXPECT_FALSE(keysym_of_code(10));
  EXPECT_FALSE(keysym_of_code(200));
}

TEST(Keysyms, ModifiersAndCharacters) {
  EXPECT_EQ(modifier_keysyms(0x1E0000),
            (std::vector<KeySym>{XK_Control_L, XK_Alt_L, XK_Shift_L, XK_Super_L}));
  EXPECT_EQ(modifier_keysyms(0x100000), (std::vector<KeySym>{XK_Super_L}));
  EXPECT_TRUE(modifier_keysyms(0).empty());
  const struct {
    char32_t character;
    KeySym keysym;
  } characters[] = {{U'a', XK_a},
                    {U'~', XK_asciitilde},
                    {U'\n', XK_Return},
                    {U'\r', XK_Return},
                    {U'\t', XK_Tab},
                    {U'\u00E9', XK_eacute},
                    {U'\u00A0', XK_nobreakspace},
                    {U'\u20AC', 0x010020AC},
                    {U'\U0001F600', 0x0101F600},
                    {U'\u0001', 0x01000001}};
  for (const auto& c : characters) {
    EXPECT_EQ(keysym_of_character(c.character), c.keysym) << static_cast<int>(c.character);
  }
}

TEST(Keysyms, Utf16Decoding) {
  EXPECT_EQ(scalars_of_utf16(u"a\u00E9\U0001F600"), U"a\u00E9\U0001F600");
  const char16_t lone_high[] = {u'a', 0xD83D, u'b', 0};
  EXPECT_EQ(scalars_of_utf16(lone_high), U"a\uFFFDb");
  const char16_t lone_low[] = {0xDE00, 0};
  EXPECT_EQ(scalars_of_utf16(lone_low), U"\uFFFD");
}

}  // namespace
}  // namespace kestrum::computer::x11
