#include "json/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "base/utf8.h"

namespace kestrum::json {
namespace {

// The shortest decimal digits of |value| and the position of the decimal
// point: |value| = 0.d1d2...dn * 10^point.
struct Digits {
  std::string digits;
  int point = 0;
};

Digits shortest_digits(double value) {
  char buffer[64];
  // Scientific form with no precision gives the shortest round-trip digits.
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = text.find('e');
  Digits out;
  for (char c : text.substr(0, e)) {
    if (c != '.') out.digits += c;
  }
  std::string_view exponent = text.substr(e + 1);
  if (!exponent.empty() && exponent.front() == '+') exponent.remove_prefix(1);
  int power = 0;
  std::from_chars(exponent.data(), exponent.data() + exponent.size(), power);
  out.point = power + 1;
  return out;
}

std::string zeros(int count) { return std::string(static_cast<std::size_t>(count), '0'); }

std::string scientific(const Digits& d) {
  std::string out(1, d.digits[0]);
  if (d.digits.size() > 1) out += "." + d.digits.substr(1);
  return out + "e" + std::to_string(d.point - 1);
}

std::string plain(const Digits& d) {
  const int length = static_cast<int>(d.digits.size());
  const auto at = static_cast<std::size_t>(d.point);
  if (d.point <= 0) return "0." + zeros(-d.point) + d.digits;
  if (d.point >= length) return d.digits + zeros(d.point - length) + ".0";
  return d.digits.substr(0, at) + "." + d.digits.substr(at);
}

// Non-printable characters beyond the C0 and C1 controls, as inclusive
// ranges: separators other than the space, format characters, private use,
// the noncharacters U+FFFE and U+FFFF, and the common combining marks that
// extend the character before them.
struct Range {
  char32_t first;
  char32_t last;
};
constexpr Range kNonPrintable[] = {
    {0x00A0, 0x00A0},   {0x00AD, 0x00AD},    {0x0300, 0x036F},   {0x0600, 0x0605},
    {0x061C, 0x061C},   {0x06DD, 0x06DD},    {0x070F, 0x070F},   {0x0890, 0x0891},
    {0x08E2, 0x08E2},   {0x1680, 0x1680},    {0x180E, 0x180E},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x2000, 0x200F},    {0x2028, 0x202F},   {0x205F, 0x2064},
    {0x2066, 0x206F},   {0x20D0, 0x20FF},    {0x3000, 0x3000},   {0xE000, 0xF8FF},
    {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
    {0xFFFE, 0xFFFF},   {0x110BD, 0x110BD},  {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},  {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
    {0xE0100, 0xE01EF}, {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  for (const Range& range : kNonPrintable) {
    if (c >= range.first && c <= range.last) return false;
  }
  return true;
}

void append_escape(std::string& out, char32_t c) {
  switch (c) {
    case U'"':
      out += "\\\"";
      return;
    case U'\\':
      out += "\\\\";
      return;
    case U'\t':
      out += "\\t";
      return;
    case U'\r':
      out += "\\r";
      return;
    case U'\n':
      out += "\\n";
      return;
    case U'\0':
      out += "\\0";
      return;
    default:
      break;
  }
  char hex[16];
  const auto written = std::to_chars(hex, hex + sizeof hex, static_cast<std::uint32_t>(c), 16);
  out += "\\u{" + std::string(hex, written.ptr) + "}";
}

bool needs_escape(char32_t c) { return c == U'"' || c == U'\\' || !is_printable(c); }

}  // namespace

std::string format_float(double value) {
  const std::string sign = std::signbit(value) ? "-" : "";
  if (value == 0) return sign + "0.0";
  const Digits d = shortest_digits(value);
  const bool decimal = d.point > -5 && d.point <= 16;
  return sign + (decimal ? plain(d) : scientific(d));
}

std::string debug_quote(std::string_view text) {
  std::string out = "\"";
  for (const char32_t c : unicode_scalars(text)) {
    if (needs_escape(c)) {
      append_escape(out, c);
    } else {
      append_utf8(out, c);
    }
  }
  return out + "\"";
}

}  // namespace kestrum::json
