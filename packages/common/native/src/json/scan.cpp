#include "json/scan.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "base/utf8.h"
#include "json/builder.h"

namespace kestrum::json::detail {
namespace {

constexpr std::string_view kSyntaxMessages[] = {
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "EOF while parsing a value",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected ident",
    "expected value",
    "invalid escape",
    "invalid number",
    "number out of range",
    "invalid unicode code point",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "key must be a string",
    "lone leading surrogate in hex escape",
    "trailing comma",
    "unexpected end of hex escape",
    "trailing characters",
    "recursion limit exceeded",
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A cursor over the text with the two error conventions.
class Cursor {
 public:
  Cursor(std::string_view text, std::size_t at) : text_(text), pos_(at) {}

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  char take() { return text_[pos_++]; }
  bool peek_digit() const { return !at_end() && is_digit(peek()); }
  void skip() { pos_ = skip_space(text_, pos_); }
  std::size_t pos() const { return pos_; }
  void seek(std::size_t at) { pos_ = at; }
  std::string_view text() const { return text_; }

  Error peeked(Syntax syntax) const {
    return syntax_error(syntax, std::min(text_.size(), pos_ + 1));
  }
  Error consumed(Syntax syntax) const { return syntax_error(syntax, pos_); }

 private:
  std::string_view text_;
  std::size_t pos_;
};

// Decimal exponent of the number's magnitude, roughly: positive for values
// of 1 and more. Only consulted for values too large or too small for a
// double, where the sign is unambiguous.
long long magnitude(std::string_view raw) {
  std::size_t i = raw[0] == '-' ? 1 : 0;
  long long point = 0;
  bool leading = true;
  for (; i < raw.size() && is_digit(raw[i]); ++i) {
    if (raw[i] != '0') leading = false;
    if (!leading) ++point;
  }
  if (i < raw.size() && raw[i] == '.') {
    for (++i; i < raw.size() && is_digit(raw[i]); ++i) {
      if (!leading) continue;
      if (raw[i] != '0') leading = false;
      if (leading) --point;
    }
  }
  if (i >= raw.size()) return point;
  const std::string_view exponent = raw.substr(i + 1);
  long long value = 0;
  for (char c : exponent) {
    if (is_digit(c) && value < 1'000'000'000'000) value = value * 10 + (c - '0');
  }
  return point + (exponent.find('-') != std::string_view::npos ? -value : value);
}

class NumberScan {
 public:
  NumberScan(std::string_view text, std::size_t start) : at_(text, start), start_(start) {}

  Result<Node, Error> run() {
    if (auto error = integer_part()) return fail_with(std::move(*error));
    if (auto error = fraction()) return fail_with(std::move(*error));
    if (auto error = exponent()) return fail_with(std::move(*error));
    return make_node();
  }

 private:
  std::optional<Error> integer_part() {
    if (!at_.at_end() && at_.peek() == '-') at_.take();
    if (at_.at_end()) return at_.consumed(Syntax::kEofValue);
    const char first = at_.take();
    if (first == '0') {
      if (at_.peek_digit()) return at_.peeked(Syntax::kInvalidNumber);
      return std::nullopt;
    }
    if (!is_digit(first)) return at_.consumed(Syntax::kInvalidNumber);
    nonzero_ = true;
    while (at_.peek_digit()) at_.take();
    return std::nullopt;
  }

  std::optional<Error> fraction() {
    if (at_.at_end() || at_.peek() != '.') return std::nullopt;
    floating_ = true;
    at_.take();
    std::size_t digits = 0;
    for (; at_.peek_digit(); ++digits) nonzero_ |= at_.take() != '0';
    if (digits > 0) return std::nullopt;
    return at_.peeked(at_.at_end() ? Syntax::kEofValue : Syntax::kInvalidNumber);
  }

  std::optional<Error> exponent() {
    if (at_.at_end() || (at_.peek() != 'e' && at_.peek() != 'E')) return std::nullopt;
    floating_ = true;
    at_.take();
    bool positive = true;
    if (!at_.at_end() && (at_.peek() == '+' || at_.peek() == '-')) positive = at_.take() == '+';
    if (at_.at_end()) return at_.consumed(Syntax::kEofValue);
    const char first = at_.take();
    if (!is_digit(first)) return at_.consumed(Syntax::kInvalidNumber);
    long long value = first - '0';
    while (at_.peek_digit()) {
      value = value * 10 + (at_.take() - '0');
      if (value > std::numeric_limits<std::int32_t>::max()) return exponent_overflow(positive);
    }
    return std::nullopt;
  }

  // The reader stops counting where the exponent leaves the 32-bit range:
  // a non-zero value growing that much is out of range right there, and
  // anything else is zero.
  std::optional<Error> exponent_overflow(bool positive) {
    if (nonzero_ && positive) return at_.consumed(Syntax::kNumberOutOfRange);
    while (at_.peek_digit()) at_.take();
    zero_ = true;
    return std::nullopt;
  }

  Result<Node, Error> make_node() {
    Node node;
    node.start = start_;
    node.end = at_.pos();
    node.text = std::string(at_.text().substr(start_, node.end - start_));
    if (!floating_ && integer(node)) return node;
    node.kind = Kind::kFloating;
    const bool negative = node.text[0] == '-';
    if (zero_) {
      node.floating = negative ? -0.0 : 0.0;
      return node;
    }
    const char* first = node.text.data();
    // Not std::from_chars: Apple's C++ library has none for doubles. Both
    // round correctly, so they agree bit for bit.
    const auto parsed = fast_float::from_chars(first, first + node.text.size(), node.floating);
    // Out of range is infinity or zero, or (in some versions) an error
    // code with the value left alone; the magnitude then says which.
    const bool overflow = parsed.ec == std::errc::result_out_of_range ? magnitude(node.text) > 0
                                                                      : std::isinf(node.floating);
    if (overflow) return fail_with(at_.consumed(Syntax::kNumberOutOfRange));
    if (parsed.ec == std::errc::result_out_of_range) node.floating = negative ? -0.0 : 0.0;
    return node;
  }

  // Integers that fit 64 bits; "-0" and wider ones are floats.
  static bool integer(Node& node) {
    const char* first = node.text.data();
    const char* last = first + node.text.size();
    if (node.text[0] != '-') {
      node.kind = Kind::kInteger;
      return std::from_chars(first, last, node.integer).ec == std::errc{};
    }
    node.kind = Kind::kNegative;
    return std::from_chars(first, last, node.negative).ec == std::errc{} && node.negative != 0;
  }

  Cursor at_;
  std::size_t start_;
  bool nonzero_ = false;
  bool floating_ = false;
  bool zero_ = false;
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class StringScan {
 public:
  StringScan(std::string_view text, std::size_t start) : at_(text, start + 1) {}

  Result<StringToken, Error> run() {
    for (;;) {
      copy_plain_run();
      if (at_.at_end()) return fail_with(at_.consumed(Syntax::kEofString));
      const char c = at_.take();
      if (c == '"') return finish();
      if (c != '\\') return fail_with(at_.consumed(Syntax::kControlCharacter));
      if (auto error = escape()) return fail_with(std::move(*error));
    }
  }

 private:
  void copy_plain_run() {
    const std::size_t from = at_.pos();
    while (!at_.at_end() && at_.peek() != '"' && at_.peek() != '\\' &&
           static_cast<unsigned char>(at_.peek()) >= 0x20) {
      at_.take();
    }
    out_.append(at_.text().substr(from, at_.pos() - from));
  }

  Result<StringToken, Error> finish() {
    // Raw bytes are checked only once the whole string has been read, so an
    // escape error anywhere in it wins over bad UTF-8.
    if (!is_valid_utf8(out_)) return fail_with(at_.consumed(Syntax::kInvalidCodePoint));
    return StringToken{std::move(out_), at_.pos()};
  }

  std::optional<Error> escape() {
    if (at_.at_end()) return at_.consumed(Syntax::kEofString);
    switch (at_.take()) {
      case '"':
        out_ += '"';
        return std::nullopt;
      case '\\':
        out_ += '\\';
        return std::nullopt;
      case '/':
        out_ += '/';
        return std::nullopt;
      case 'b':
        out_ += '\b';
        return std::nullopt;
      case 'f':
        out_ += '\f';
        return std::nullopt;
      case 'n':
        out_ += '\n';
        return std::nullopt;
      case 'r':
        out_ += '\r';
        return std::nullopt;
      case 't':
        out_ += '\t';
        return std::nullopt;
      case 'u':
        return unicode();
      default:
        return at_.consumed(Syntax::kInvalidEscape);
    }
  }

  // Four hex digits. Fewer than four bytes left is the end of the string;
  // otherwise all four are taken, and any that is not a digit makes the
  // whole escape invalid.
  Result<char32_t, Error> hex4() {
    if (at_.text().size() - at_.pos() < 4) {
      at_.seek(at_.text().size());
      return fail_with(at_.consumed(Syntax::kEofString));
    }
    char32_t value = 0;
    bool digits = true;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(at_.take());
      digits = digits && digit >= 0;
      value = (value << 4) | static_cast<char32_t>(digit & 0xF);
    }
    if (!digits) return fail_with(at_.consumed(Syntax::kInvalidEscape));
    return value;
  }

  std::optional<Error> unicode() {
    auto high = hex4();
    if (!high) return high.take_error();
    if (*high >= 0xDC00 && *high <= 0xDFFF) return at_.consumed(Syntax::kLoneSurrogate);
    if (*high < 0xD800 || *high > 0xDBFF) {
      append_utf8(out_, *high);
      return std::nullopt;
    }
    for (char expected : {'\\', 'u'}) {
      if (at_.at_end()) return at_.consumed(Syntax::kEofString);
      if (at_.take() != expected) return at_.consumed(Syntax::kUnexpectedEndOfHexEscape);
    }
    auto low = hex4();
    if (!low) return low.take_error();
    if (*low < 0xDC00 || *low > 0xDFFF) return at_.consumed(Syntax::kLoneSurrogate);
    append_utf8(out_, 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00));
    return std::nullopt;
  }

  Cursor at_;
  std::string out_;
};

// Drives the builder from its current state, one token per step.
class Resume {
 public:
  Resume(std::string_view text, TreeBuilder& out) : at_(text, out.last_end()), out_(out) {}

  std::optional<Error> run() {
    while (out_.expect() != Expect::kEnd) {
      if (auto error = step()) return error;
    }
    at_.skip();
    if (!at_.at_end()) return at_.peeked(Syntax::kTrailingCharacters);
    return std::nullopt;
  }

 private:
  std::optional<Error> step() {
    switch (out_.expect()) {
      case Expect::kRootValue:
        return value();
      case Expect::kFirstItem:
        return first_item();
      case Expect::kNextItem:
        return next_item();
      case Expect::kFirstKey:
        return first_key();
      case Expect::kNextKey:
        return next_key();
      case Expect::kColon:
        return colon();
      case Expect::kEnd:
        return std::nullopt;
    }
    return std::nullopt;
  }

  std::optional<Error> first_item() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofList);
    if (at_.peek() == ']') return close();
    return value();
  }

  std::optional<Error> next_item() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofList);
    if (at_.peek() == ']') return close();
    if (at_.peek() != ',') return at_.peeked(Syntax::kExpectedListCommaOrEnd);
    at_.take();
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofValue);
    if (at_.peek() == ']') return at_.peeked(Syntax::kTrailingComma);
    return value();
  }

  std::optional<Error> first_key() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofObject);
    if (at_.peek() == '}') return close();
    return key();
  }

  std::optional<Error> next_key() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofObject);
    if (at_.peek() == '}') return close();
    if (at_.peek() != ',') return at_.peeked(Syntax::kExpectedObjectCommaOrEnd);
    at_.take();
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofValue);
    if (at_.peek() == '}') return at_.peeked(Syntax::kTrailingComma);
    return key();
  }

  std::optional<Error> key() {
    if (at_.peek() != '"') return at_.peeked(Syntax::kKeyMustBeString);
    auto token = scan_string(at_.text(), at_.pos());
    if (!token) return token.take_error();
    at_.seek(token->end);
    out_.key(std::move(token->value), token->end);
    return std::nullopt;
  }

  std::optional<Error> colon() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofObject);
    if (at_.peek() != ':') return at_.peeked(Syntax::kExpectedColon);
    at_.take();
    return value();
  }

  std::optional<Error> close() {
    at_.take();
    out_.close(at_.pos());
    return std::nullopt;
  }

  std::optional<Error> value() {
    at_.skip();
    if (at_.at_end()) return at_.peeked(Syntax::kEofValue);
    switch (at_.peek()) {
      case 'n':
        return literal("null", Kind::kNull, false);
      case 't':
        return literal("true", Kind::kBoolean, true);
      case 'f':
        return literal("false", Kind::kBoolean, false);
      case '"':
        return string();
      case '[':
        return open(Kind::kArray);
      case '{':
        return open(Kind::kObject);
      default:
        break;
    }
    if (at_.peek() == '-' || is_digit(at_.peek())) return number();
    return at_.peeked(Syntax::kExpectedValue);
  }

  std::optional<Error> literal(std::string_view word, Kind kind, bool boolean) {
    Node node;
    node.kind = kind;
    node.boolean = boolean;
    node.start = at_.pos();
    at_.take();
    for (char expected : word.substr(1)) {
      if (at_.at_end()) return at_.consumed(Syntax::kEofValue);
      if (at_.take() != expected) return at_.consumed(Syntax::kExpectedIdent);
    }
    node.end = at_.pos();
    out_.value(std::move(node));
    return std::nullopt;
  }

  std::optional<Error> string() {
    auto token = scan_string(at_.text(), at_.pos());
    if (!token) return token.take_error();
    Node node;
    node.kind = Kind::kString;
    node.start = at_.pos();
    node.end = token->end;
    node.text = std::move(token->value);
    at_.seek(node.end);
    out_.value(std::move(node));
    return std::nullopt;
  }

  std::optional<Error> number() {
    auto node = scan_number(at_.text(), at_.pos());
    if (!node) return node.take_error();
    at_.seek(node->end);
    out_.value(std::move(*node));
    return std::nullopt;
  }

  std::optional<Error> open(Kind kind) {
    if (out_.depth() >= kMaxDepth) return at_.peeked(Syntax::kRecursionLimit);
    out_.open(kind, at_.pos());
    at_.take();
    return std::nullopt;
  }

  Cursor at_;
  TreeBuilder& out_;
};

}  // namespace

Error syntax_error(Syntax syntax, std::size_t offset) {
  return Error{std::string(kSyntaxMessages[static_cast<std::size_t>(syntax)]), offset};
}

std::size_t skip_space(std::string_view text, std::size_t at) {
  while (at < text.size() && is_space(text[at])) ++at;
  return at;
}

Result<Node, Error> scan_number(std::string_view text, std::size_t start) {
  return NumberScan(text, start).run();
}

Result<StringToken, Error> scan_string(std::string_view text, std::size_t start) {
  return StringScan(text, start).run();
}

std::optional<Error> resume(std::string_view text, TreeBuilder& builder) {
  return Resume(text, builder).run();
}

}  // namespace kestrum::json::detail
