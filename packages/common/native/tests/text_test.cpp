#include "json/text.h"

#include <fast_float/fast_float.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrum::json {
namespace {

TEST(FormatFloat, UsesDecimalNotationExactlyForPointsAboveMinusFiveUpToSixteen) {
  struct Case {
    double value;
    std::string_view written;
  };
  const Case cases[] = {
      {1440.0, "1440.0"},
      {0.5, "0.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-2.25, "-2.25"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e16"},
      {1.5e16, "1.5e16"},
      {1e21, "1e21"},
      {123456.789, "123456.789"},
      {0.00001, "0.00001"},
      {0.000012, "0.000012"},
      {1e-6, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {18446744073709551616.0, "1.8446744073709552e19"},
      {0.1 + 0.2, "0.30000000000000004"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_float(c.value), c.written) << c.value;
}

TEST(FormatFloat, ReadsBackAsTheSameDouble) {
  const double values[] = {0.1,    1.0 / 3,  2.0 / 3e10,    6.02214076e23,
                           1e-300, 4.9e-320, 123456789.0123};
  const auto read_back = [](const std::string& text) {
    double value = 0;
    fast_float::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  };
  for (double value : values) {
    EXPECT_EQ(read_back(format_float(value)), value) << format_float(value);
  }
}

TEST(DebugQuote, EscapesQuotesBackslashesControlsAndInvisibleCharacters) {
  struct Case {
    std::string_view text;
    std::string_view quoted;
  };
  const Case cases[] = {
      {"plain.example", "\"plain.example\""},
      {"a b", "\"a b\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"\t\r\n", "\"\\t\\r\\n\""},
      {std::string_view("nul\0", 4), "\"nul\\0\""},
      {"\x1b[0m", "\"\\u{1b}[0m\""},
      {"\x7f", "\"\\u{7f}\""},
      {"\xc2\x85", "\"\\u{85}\""},  // C1 control
      {"no\xc2\xa0"
       "break",
       "\"no\\u{a0}break\""},
      {"zero\xe2\x80\x8bwidth", "\"zero\\u{200b}width\""},
      {"\xef\xbb\xbf"
       "bom",
       "\"\\u{feff}bom\""},
      {"e\xcc\x81", "\"e\\u{301}\""},  // combining acute accent
      {"b\xc3\xbc"
       "cher",
       "\"b\xc3\xbc"
       "cher\""},
      {"\xe6\x97\xa5\xe6\x9c\xac", "\"\xe6\x97\xa5\xe6\x9c\xac\""},
      {"it's", "\"it's\""},
      {"bad\xff", "\"bad\xef\xbf\xbd\""},
  };
  for (const Case& c : cases) EXPECT_EQ(debug_quote(c.text), c.quoted) << c.text;
}

}  // namespace
}  // namespace kestrum::json
