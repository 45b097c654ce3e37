// Our own scanner, with the streaming reader's exact rules for what is an
// error, which message it gets and where it is located. It checks every
// number, continues parsing wherever the library's reader stopped, and
// serves the decoder where a record's end must be re-read.
//
// Offsets of errors follow two conventions: an error about a byte that was
// only looked at ("peeked") is located just past that byte (capped at the
// text's end); an error about bytes already consumed is located just past
// them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/document.h"

namespace kestrum::json::detail {

class TreeBuilder;

enum class Syntax {
  kEofList,
  kEofObject,
  kEofString,
  kEofValue,
  kExpectedColon,
  kExpectedListCommaOrEnd,
  kExpectedObjectCommaOrEnd,
  kExpectedIdent,
  kExpectedValue,
  kInvalidEscape,
  kInvalidNumber,
  kNumberOutOfRange,
  kInvalidCodePoint,
  kControlCharacter,
  kKeyMustBeString,
  kLoneSurrogate,
  kTrailingComma,
  kUnexpectedEndOfHexEscape,
  kTrailingCharacters,
  kRecursionLimit,
};

Error syntax_error(Syntax syntax, std::size_t offset);

inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The first offset at or after `at` that is not JSON white space.
std::size_t skip_space(std::string_view text, std::size_t at);

// The number starting at `start` ('-' or a digit) as a node.
Result<Node, Error> scan_number(std::string_view text, std::size_t start);

struct StringToken {
  std::string value;
  std::size_t end = 0;  // just past the closing quote
};

// The string whose opening quote is at `start`, unescaped and checked.
Result<StringToken, Error> scan_string(std::string_view text, std::size_t start);

// Continues parsing from the builder's state to the end of the text, feeding
// the builder. Returns the first syntax error, if any.
std::optional<Error> resume(std::string_view text, TreeBuilder& builder);

}  // namespace kestrum::json::detail
