#include "json/document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace kestrum::json {
namespace {

std::string syntax_of(std::string_view text) {
  const Document document = parse(text);
  if (!document.syntax_error) return "no error";
  return format_error(document.text, *document.syntax_error);
}

struct SyntaxCase {
  std::string text;
  std::string_view error;
};

void expect_errors(const std::vector<SyntaxCase>& cases) {
  for (const SyntaxCase& c : cases) EXPECT_EQ(syntax_of(c.text), c.error) << c.text;
}

TEST(Parse, ReportsEndOfInputInsideEachConstruct) {
  expect_errors({
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"\"ab", "EOF while parsing a string at line 1 column 3"},
      {"\"a\\", "EOF while parsing a string at line 1 column 3"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e-", "EOF while parsing a value at line 1 column 3"},
  });
}

TEST(Parse, ReportsStructuralFaultsJustPastTheOffendingByte) {
  expect_errors({
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"[x]", "expected value at line 1 column 2"},
      {"[,1]", "expected value at line 1 column 2"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1, ]", "trailing comma at line 1 column 5"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[] x", "trailing characters at line 1 column 4"},
      {"{}}", "trailing characters at line 1 column 3"},
      {"1 2", "trailing characters at line 1 column 3"},
  });
}

TEST(Parse, ReportsLiteralAndNumberFaults) {
  expect_errors({
      {"tru]", "expected ident at line 1 column 4"},
      {"nulx", "expected ident at line 1 column 4"},
      {"[falsy]", "expected ident at line 1 column 6"},
      {"-x", "invalid number at line 1 column 2"},
      {"[01]", "invalid number at line 1 column 3"},
      {"-00", "invalid number at line 1 column 3"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"1e400", "number out of range at line 1 column 5"},
      {"[-1e400]", "number out of range at line 1 column 7"},
      {"[10e308]", "number out of range at line 1 column 7"},
      {"1" + std::string(400, '0'), "number out of range at line 1 column 401"},
      // The exponent stops being counted where it leaves 32 bits.
      {"1e99999999999", "number out of range at line 1 column 12"},
  });
}

TEST(Parse, ReportsStringFaults) {
  expect_errors({
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      // An escape's four bytes are all taken; fewer than four left is the end.
      {"[\"\\u12\"]", "invalid escape at line 1 column 8"},
      {"\"\\uZZZZ\"", "invalid escape at line 1 column 7"},
      {"\"\\u00e\n\"", "invalid escape at line 2 column 0"},
      {"\"\\uD800\\u12\"]", "invalid escape at line 1 column 13"},
      {"\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
      {"\"\\uD800\\uDC", "EOF while parsing a string at line 1 column 11"},
      {"\"\x01\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {std::string("\"a\0b\"", 5),
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"{\"k\xc0\x80\":1}", "invalid unicode code point at line 1 column 6"},
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},
      // Bad UTF-8 is only noticed at the closing quote; a bad escape first.
      {"\"\xff\\q\"", "invalid escape at line 1 column 4"},
  });
}

TEST(Parse, TreatsNulBytesAsOrdinaryBytes) {
  expect_errors({
      {std::string("\0", 1), "expected value at line 1 column 1"},
      {std::string("[]\0", 3), "trailing characters at line 1 column 3"},
      {std::string("[1,\0]", 5), "expected value at line 1 column 4"},
  });
}

TEST(Parse, CountsLinesAndColumnsInBytes) {
  expect_errors({
      {"[\n1,\n", "EOF while parsing a value at line 3 column 0"},
      {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},
      {"{\n  \"a\": 1\n  \"b\"", "expected `,` or `}` at line 3 column 3"},
      {"[\"\xc3\xa9\xc3\xa9\" x]", "expected `,` or `]` at line 1 column 9"},
  });
}

TEST(Parse, AllowsNestingOneHundredTwentyEightDeep) {
  const std::string deepest = std::string(128, '[') + std::string(128, ']');
  EXPECT_EQ(syntax_of(deepest), "no error");
  EXPECT_EQ(syntax_of("[" + deepest + "]"), "recursion limit exceeded at line 1 column 129");
  EXPECT_EQ(syntax_of(std::string(128, '[') + "{"),
            "recursion limit exceeded at line 1 column 129");
  EXPECT_EQ(syntax_of(std::string(127, '[') + "{\"a\": ["),
            "recursion limit exceeded at line 1 column 134");
  EXPECT_EQ(syntax_of(std::string(1'000'000, '[')),
            "recursion limit exceeded at line 1 column 129");
}

TEST(Parse, RecordsOffsetsOfValuesAndKeys) {
  const Document document = parse("{\"a\" : [1, \"x\"], \"b\":null}");
  ASSERT_FALSE(document.syntax_error);
  const Node& root = *document.root;
  EXPECT_EQ(root.kind, Kind::kObject);
  EXPECT_EQ(root.start, 0u);
  EXPECT_EQ(root.end, 26u);
  EXPECT_TRUE(root.complete);
  ASSERT_EQ(root.members.size(), 2u);
  const Member& a = root.members[0];
  EXPECT_EQ(a.key, "a");
  EXPECT_EQ(a.key_end, 4u);
  EXPECT_EQ(a.after_key, 5u);
  EXPECT_EQ(a.value->kind, Kind::kArray);
  EXPECT_EQ(a.value->start, 7u);
  EXPECT_EQ(a.value->end, 15u);
  EXPECT_EQ(a.value->items[1].start, 11u);
  EXPECT_EQ(a.value->items[1].end, 14u);
  EXPECT_EQ(root.members[1].after_key, 20u);
  EXPECT_EQ(root.members[1].value->kind, Kind::kNull);
  EXPECT_EQ(root.members[1].value->start, 21u);
  EXPECT_EQ(root.members[1].value->end, 25u);
}

TEST(Parse, DecodesEscapesAndSurrogatePairs) {
  const Document document = parse(
      "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\", \"\\u00e9\\u65e5\\ud83d\\ude00\", \"\\u0000\", "
      "\"\xc3\xa9\"]");
  ASSERT_FALSE(document.syntax_error) << document.syntax_error->message;
  const auto& items = document.root->items;
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].text, "\"\\/\b\f\n\r\t");
  EXPECT_EQ(items[1].text, "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80");
  EXPECT_EQ(items[2].text, std::string("\0", 1));
  EXPECT_EQ(items[3].text, "\xc3\xa9");
}

TEST(Parse, ClassifiesNumbersByTheirText) {
  struct Case {
    std::string_view text;
    Kind kind;
    std::uint64_t integer;
    std::int64_t negative;
    double floating;
  };
  const Case cases[] = {
      {"0", Kind::kInteger, 0, 0, 0},
      {"18446744073709551615", Kind::kInteger, 18446744073709551615u, 0, 0},
      {"-1", Kind::kNegative, 0, -1, 0},
      {"-9223372036854775808", Kind::kNegative, 0, INT64_MIN, 0},
      {"18446744073709551616", Kind::kFloating, 0, 0, 18446744073709551616.0},
      {"-9223372036854775809", Kind::kFloating, 0, 0, -9223372036854775808.0},
      {"1.5", Kind::kFloating, 0, 0, 1.5},
      {"1E2", Kind::kFloating, 0, 0, 100},
      {"2.5e-3", Kind::kFloating, 0, 0, 0.0025},
      {"0.1e309", Kind::kFloating, 0, 0, 1e308},
      {"0e400", Kind::kFloating, 0, 0, 0},
      {"0e99999999999", Kind::kFloating, 0, 0, 0},
      {"1e-400", Kind::kFloating, 0, 0, 0},
      {"1e-99999999999", Kind::kFloating, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const Document document = parse(c.text);
    ASSERT_FALSE(document.syntax_error) << c.text << ": " << document.syntax_error->message;
    const Node& node = *document.root;
    EXPECT_EQ(node.kind, c.kind) << c.text;
    EXPECT_EQ(node.text, c.text);
    EXPECT_EQ(node.integer, c.integer) << c.text;
    EXPECT_EQ(node.negative, c.negative) << c.text;
    EXPECT_EQ(node.floating, c.floating) << c.text;
  }
  for (std::string_view zero : {"-0", "-0.0", "-1e-400"}) {
    const Document document = parse(zero);
    EXPECT_EQ(document.root->kind, Kind::kFloating) << zero;
    EXPECT_TRUE(std::signbit(document.root->floating)) << zero;
  }
}

TEST(Parse, KeepsWhatWasReadBeforeAnError) {
  const Document document = parse("{\"a\":[1,2 {\"k\" x");
  ASSERT_TRUE(document.root);
  const Node& root = *document.root;
  EXPECT_FALSE(root.complete);
  ASSERT_EQ(root.members.size(), 1u);
  const Node& list = *root.members[0].value;
  EXPECT_FALSE(list.complete);
  ASSERT_EQ(list.items.size(), 2u);
  EXPECT_EQ(list.items[1].integer, 2u);
  EXPECT_EQ(document.syntax_error->message, "expected `,` or `]`");

  const Document cut = parse("{\"k\" x");
  ASSERT_EQ(cut.root->members.size(), 1u);
  EXPECT_FALSE(cut.root->members[0].value);
  EXPECT_EQ(cut.root->members[0].after_key, 5u);
  EXPECT_FALSE(parse("").root);
}

TEST(Parse, ContinuesPastNumbersTheLibraryRefusesButThatAreValid) {
  const Document document =
      parse("[0e400, {\"a\": 0.0e999}, 17976931348623157" + std::string(292, '0') + "]");
  ASSERT_FALSE(document.syntax_error) << document.syntax_error->message;
  const Node& root = *document.root;
  EXPECT_TRUE(root.complete);
  ASSERT_EQ(root.items.size(), 3u);
  EXPECT_EQ(root.items[1].members[0].value->floating, 0.0);
  EXPECT_EQ(root.items[2].floating, 1.7976931348623157e308);
}

TEST(PositionAt, CountsLineFeedsAndBytesSinceTheLastOne) {
  struct Case {
    std::size_t offset;
    std::size_t line;
    std::size_t column;
  };
  const std::string_view text = "ab\ncd\n\nef";
  const Case cases[] = {{0, 1, 0}, {1, 1, 1}, {3, 2, 0}, {4, 2, 1},
                        {6, 3, 0}, {7, 4, 0}, {9, 4, 2}, {99, 4, 2}};
  for (const Case& c : cases) {
    const Position position = position_at(text, c.offset);
    EXPECT_EQ(position.line, c.line) << c.offset;
    EXPECT_EQ(position.column, c.column) << c.offset;
  }
}

}  // namespace
}  // namespace kestrum::json
