#include "desktop/keys.h"

#include <gtest/gtest.h>

#include "desktop/unicode.h"

namespace kestrum::computer {
namespace {

constexpr Modifiers kNone{};
constexpr Modifiers kCommand{true, false, false, false};
constexpr Modifiers kControl{false, true, false, false};
constexpr Modifiers kOption{false, false, true, false};
constexpr Modifiers kShift{false, false, false, true};
constexpr Modifiers kCommandShift{true, false, false, true};
constexpr Modifiers kAll{true, true, true, true};

KeyCombination character(char32_t c, Modifiers modifiers = kNone) {
  return {CharacterKey{c}, modifiers};
}
KeyCombination named(NamedKey key, Modifiers modifiers = kNone) { return {key, modifiers}; }
KeyCombination function(std::uint8_t number) { return {FunctionKey{number}, kNone}; }

TEST(ParseKeys, Combinations) {
  const struct {
    std::string text;
    KeyCombination want;
  } cases[] = {
      {"cmd+shift+t", character(U't', kCommandShift)},
      {"shift+CMD+t", character(U't', kCommandShift)},
      {"Ctrl+C", character(U'c', kControl)},
      {"A", character(U'a')},
      {"f", character(U'f')},
      {"F", character(U'f')},
      {"\xC3\x89", character(U'\u00C9')},  // only ASCII capitals fold
      {"alt+\xF0\x9F\x98\x80", character(U'\U0001F600', kOption)},
      {" ", character(U' ')},
      {"cmd+cmd+command+meta+super+win+x", character(U'x', kCommand)},
      {"Control+Option+Opt+Alt+Shift+Command+1", character(U'1', kAll)},
      {"ctrl+=", character(U'=', kControl)},
      {"enter", named(NamedKey::kReturn)},
      {"RETURN", named(NamedKey::kReturn)},
      {"Tab", named(NamedKey::kTab)},
      {"esc", named(NamedKey::kEscape)},
      {"escape", named(NamedKey::kEscape)},
      {"backspace", named(NamedKey::kBackspace)},
      {"del", named(NamedKey::kForwardDelete)},
      {"Delete", named(NamedKey::kForwardDelete)},
      {"space", named(NamedKey::kSpace)},
      {"shift+up", named(NamedKey::kUp, kShift)},
      {"ArrowUp", named(NamedKey::kUp)},
      {"down", named(NamedKey::kDown)},
      {"arrowdown", named(NamedKey::kDown)},
      {"left", named(NamedKey::kLeft)},
      {"arrowleft", named(NamedKey::kLeft)},
      {"right", named(NamedKey::kRight)},
      {"arrowright", named(NamedKey::kRight)},
      {"home", named(NamedKey::kHome)},
      {"end", named(NamedKey::kEnd)},
      {"PageUp", named(NamedKey::kPageUp)},
      {"pagedown", named(NamedKey::kPageDown)},
      {"F1", function(1)},
      {"f0000012", function(12)},
      {"F12", function(12)},
      {"f9", function(9)},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_keys(c.text);
    ASSERT_TRUE(parsed) << c.text << ": " << parsed.error();
    EXPECT_EQ(*parsed, c.want) << c.text;
  }
}

TEST(ParseKeys, Mistakes) {
  const struct {
    std::string text;
    std::string want;
  } cases[] = {
      {"+", R"("" is not a modifier)"},
      {"alt+", R"("" is not a key)"},
      {"", R"("" is not a key)"},
      {"hyper+x", R"("hyper" is not a modifier)"},
      {"Cmd+Hyper+x", R"("Hyper" is not a modifier)"},
      {"cmd++x", R"("" is not a modifier)"},
      {"cmd+shift", R"("shift" is not a key)"},
      {"shift", R"("shift" is not a key)"},
      {"f13", R"("f13" is not a key)"},
      {"F0", R"("F0" is not a key)"},
      {"f100", R"("f100" is not a key)"},
      {"f1x", R"("f1x" is not a key)"},
      {"ff", R"("ff" is not a key)"},
      {"Page Up", R"("Page Up" is not a key)"},
      {"cmd+\xC3\xA9\xC3\xA9", "\"\xC3\xA9\xC3\xA9\" is not a key"},
      {" cmd+x", R"(" cmd" is not a modifier)"},
      {"command+x+y", R"("x" is not a modifier)"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_keys(c.text);
    ASSERT_FALSE(parsed) << c.text;
    EXPECT_EQ(parsed.error(), c.want) << c.text;
  }
}

TEST(KeyCode, AnsiLayout) {
  const struct {
    KeySpec key;
    int want;  // -1: no code
  } cases[] = {
      {CharacterKey{U'a'}, 0},    {CharacterKey{U'b'}, 11},
      {CharacterKey{U't'}, 17},   {CharacterKey{U'c'}, 8},
      {CharacterKey{U'l'}, 37},   {CharacterKey{U'5'}, 23},
      {CharacterKey{U'6'}, 22},   {CharacterKey{U'0'}, 29},
      {CharacterKey{U'\\'}, 42},  {CharacterKey{U'`'}, 50},
      {CharacterKey{U'\''}, 39},  {CharacterKey{U'.'}, 47},
      {CharacterKey{U'A'}, -1},   {CharacterKey{U' '}, -1},
      {CharacterKey{U'!'}, -1},   {CharacterKey{U'\u00E9'}, -1},
      {CharacterKey{U'+'}, -1},   {NamedKey::kReturn, 36},
      {NamedKey::kSpace, 49},     {NamedKey::kForwardDelete, 117},
      {NamedKey::kBackspace, 51}, {NamedKey::kPageDown, 121},
      {NamedKey::kUp, 126},       {NamedKey::kLeft, 123},
      {FunctionKey{1}, 122},      {FunctionKey{2}, 120},
      {FunctionKey{5}, 96},       {FunctionKey{10}, 109},
      {FunctionKey{12}, 111},     {FunctionKey{13}, -1},
  };
  for (const auto& c : cases) {
    const auto code = key_code(c.key);
    if (c.want < 0) {
      ASSERT_FALSE(code);
      EXPECT_EQ(code.error(), "this key has no key code on this keyboard");
    } else {
      ASSERT_TRUE(code);
      EXPECT_EQ(*code, c.want);
    }
  }
}

TEST(ModifierMask, FlagsPerModifier) {
  const struct {
    Modifiers modifiers;
    std::uint64_t want;
  } cases[] = {
      {kNone, 0},        {kCommand, 0x100000},      {kControl, 0x40000}, {kOption, 0x80000},
      {kShift, 0x20000}, {kCommandShift, 0x120000}, {kAll, 0x1E0000},
  };
  for (const auto& c : cases) EXPECT_EQ(modifier_mask(c.modifiers), c.want);
}

TEST(Unicode, ScalarsAndCodeUnits) {
  const struct {
    std::string utf8;
    std::u32string scalars;
    std::u16string units;
  } cases[] = {
      {"", U"", u""},
      {"a\xC3\xA9\xE2\x82\xAC", U"a\u00E9\u20AC", u"a\u00E9\u20AC"},
      {"\xF0\x9F\x98\x80", U"\U0001F600", u"\xD83D\xDE00"},
      {"\xF4\x8F\xBF\xBF", U"\U0010FFFF", u"\xDBFF\xDFFF"},
      {"a\xFF"
       "b",
       U"a\uFFFDb", u"a\uFFFDb"},
      {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    const std::u32string scalars = unicode_scalars(c.utf8);
    EXPECT_EQ(scalars, c.scalars);
    EXPECT_EQ(utf16_from_scalars(scalars), c.units);
  }
}

}  // namespace
}  // namespace kestrum::computer
