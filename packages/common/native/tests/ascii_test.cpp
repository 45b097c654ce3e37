#include "base/ascii.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrum {
namespace {

TEST(Decimal, SignDigitsAndRange) {
  enum Type { i64, i32, u16 };
  const struct {
    Type type;
    Sign sign;
    std::string text;
    std::optional<std::int64_t> want;
  } cases[] = {
      {i64, Sign::kPlusOrMinus, "0", 0},
      {i64, Sign::kPlusOrMinus, "-5", -5},
      {i64, Sign::kPlusOrMinus, "+5", 5},
      {i64, Sign::kPlusOrMinus, "007", 7},
      {i64, Sign::kPlusOrMinus, "9223372036854775807", INT64_MAX},
      {i64, Sign::kPlusOrMinus, "-9223372036854775808", INT64_MIN},
      {i64, Sign::kPlusOrMinus, "9223372036854775808", std::nullopt},
      {i64, Sign::kPlusOrMinus, "-9223372036854775809", std::nullopt},
      {i64, Sign::kPlusOrMinus, "99999999999999999999", std::nullopt},
      {i64, Sign::kPlusOrMinus, "", std::nullopt},
      {i64, Sign::kPlusOrMinus, "+", std::nullopt},
      {i64, Sign::kPlusOrMinus, "-", std::nullopt},
      {i64, Sign::kPlusOrMinus, "--5", std::nullopt},
      {i64, Sign::kPlusOrMinus, " 5", std::nullopt},
      {i64, Sign::kPlusOrMinus, "5 ", std::nullopt},
      {i64, Sign::kPlusOrMinus, "0x10", std::nullopt},
      {i64, Sign::kPlusOrMinus, "1e3", std::nullopt},
      {i64, Sign::kPlusOrMinus, "\xd9\xa3", std::nullopt},  // a digit outside ASCII
      {i32, Sign::kPlusOrMinus, "-2147483648", INT32_MIN},
      {i32, Sign::kPlusOrMinus, "2147483648", std::nullopt},
      {i32, Sign::kPlusOrMinus, "-2147483649", std::nullopt},
      {u16, Sign::kPlus, "+65535", 65535},
      {u16, Sign::kPlus, "65536", std::nullopt},
      {u16, Sign::kPlus, "-0", std::nullopt},
      {u16, Sign::kNone, "+1", std::nullopt},
  };
  const auto widened = [](const auto& value) -> std::optional<std::int64_t> {
    if (!value) return std::nullopt;
    return *value;
  };
  for (const auto& c : cases) {
    const std::optional<std::int64_t> got =
        c.type == i64   ? parse_decimal<std::int64_t>(c.text, c.sign)
        : c.type == i32 ? widened(parse_decimal<std::int32_t>(c.text, c.sign))
                        : widened(parse_decimal<std::uint16_t>(c.text, c.sign));
    EXPECT_EQ(got, c.want) << c.text;
  }
}

}  // namespace
}  // namespace kestrum
