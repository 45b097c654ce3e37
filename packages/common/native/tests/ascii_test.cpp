#include "base/ascii.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrum {
namespace {

TEST(Decimal, SignDigitsAndRange) {
  enum Type { i64, i32, u16 };
  const struct {
    Type type;
    Sign sign;
    std::vector<std::string> texts;
    std::optional<std::int64_t> want;
  } cases[] = {
      {i64, Sign::kPlusOrMinus, {"0", "-0"}, 0},
      {i64, Sign::kPlusOrMinus, {"-5"}, -5},
      {i64, Sign::kPlusOrMinus, {"+7", "007"}, 7},
      {i64, Sign::kPlusOrMinus, {"9223372036854775807"}, INT64_MAX},
      {i64, Sign::kPlusOrMinus, {"-9223372036854775808"}, INT64_MIN},
      {i64,
       Sign::kPlusOrMinus,
       {"9223372036854775808", "-9223372036854775809", "99999999999999999999", "", "+", "-", "--5",
        " 5", "5 ", "0x10", "1e3", "\xd9\xa3" /* a digit outside ASCII */},
       std::nullopt},
      {i32, Sign::kPlusOrMinus, {"-2147483648"}, INT32_MIN},
      {i32, Sign::kPlusOrMinus, {"2147483648", "-2147483649"}, std::nullopt},
      {u16, Sign::kPlus, {"+65535"}, 65535},
      {u16, Sign::kPlus, {"65536", "-0", "-1"}, std::nullopt},
      {u16, Sign::kNone, {"+1"}, std::nullopt},
  };
  for (const auto& c : cases) {
    for (const std::string& text : c.texts) {
      std::optional<std::int64_t> got = parse_decimal<std::int64_t>(text, c.sign);
      if (c.type == i32) got = parse_decimal<std::int32_t>(text, c.sign);
      if (c.type == u16) got = parse_decimal<std::uint16_t>(text, c.sign);
      EXPECT_EQ(got, c.want) << text;
    }
  }
}

}  // namespace
}  // namespace kestrum
