#include "json/writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "json/document.h"

namespace kestrum::json {
namespace {

TEST(ToJson, WritesEveryKindCompactly) {
  struct Case {
    Value value;
    std::string_view written;
  };
  const Case cases[] = {
      {Value(), "null"},
      {true, "true"},
      {false, "false"},
      {0, "0"},
      {-7, "-7"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
      {1440.0, "1440.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1e21, "1e21"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
      {"text", "\"text\""},
      {Array{}, "[]"},
      {Object{}, "{}"},
      {Array{1, "two", Value(), Array{3.5}}, "[1,\"two\",null,[3.5]]"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_json(c.value), c.written);
}

TEST(ToJson, OrdersMembersByKeyBytesAtEveryLevel) {
  Object inner;
  inner["zeta"] = 1;
  inner["Zeta"] = 2;
  inner["\xc3\xa9"] = 3;  // é sorts after every ASCII key
  inner["a"] = 4;
  Object outer;
  outer["refused"] = std::move(inner);
  outer["ok"] = false;
  outer["id"] = 9;
  outer["error"] = "x";
  EXPECT_EQ(to_json(Value(std::move(outer))),
            "{\"error\":\"x\",\"id\":9,\"ok\":false,"
            "\"refused\":{\"Zeta\":2,\"a\":4,\"zeta\":1,\"\xc3\xa9\":3}}");
}

TEST(ToJson, LaterInsertionOfAKeyReplacesItsValue) {
  Object object;
  object["ok"] = true;
  object["id"] = 1;
  object["id"] = "replaced";
  EXPECT_EQ(to_json(Value(std::move(object))), "{\"id\":\"replaced\",\"ok\":true}");
}

TEST(WriteString, EscapesOnlyWhatJsonRequires) {
  struct Case {
    std::string_view text;
    std::string_view written;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"quote\" backslash\\", "\"quote\\\" backslash\\\\\""},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
      {std::string_view("\0\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
      {"\x1b", "\"\\u001b\""},
      {"/ \x7f \xc3\xa9 \xe2\x80\xa8", "\"/ \x7f \xc3\xa9 \xe2\x80\xa8\""},
  };
  for (const Case& c : cases) {
    std::string out = "prefix:";
    write_string(out, c.text);
    EXPECT_EQ(out, "prefix:" + std::string(c.written));
  }
}

TEST(ToJson, OutputParsesBackToTheSameValues) {
  const double floats[] = {0.1, -1.0 / 3, 6.02214076e23, 1e-7, 12345678901234567.0};
  for (double f : floats) {
    const Document document = parse(to_json(Array{f, "a\"\\\n\x01z"}));
    ASSERT_FALSE(document.syntax_error) << document.syntax_error->message;
    ASSERT_EQ(document.root->items.size(), 2u);
    EXPECT_EQ(document.root->items[0].floating, f);
    EXPECT_EQ(document.root->items[1].text, "a\"\\\n\x01z");
  }
}

}  // namespace
}  // namespace kestrum::json
