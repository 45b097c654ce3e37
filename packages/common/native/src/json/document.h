// A JSON text parsed into a tree whose nodes remember where they stand in
// the text. Parsing never fails as a whole: it keeps everything read before
// the first syntax error and records that error, so that typed decoding can
// walk the tree in text order and report whichever fault comes first, the
// way a streaming reader would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum::json {

// Arrays and objects may nest this deep; one level more is an error.
inline constexpr std::size_t kMaxDepth = 128;

enum class Kind { kNull, kBoolean, kInteger, kNegative, kFloating, kString, kArray, kObject };

struct Member;

// Numbers without '.', 'e' or 'E' that fit are kInteger (non-negative, u64)
// or kNegative (i64); every other number, "-0" included, is kFloating.
struct Node {
  Kind kind = Kind::kNull;
  std::size_t start = 0;  // first byte
  std::size_t end = 0;    // just past the value (past the closing bracket)
  // False for an array or object that a syntax error cut short.
  bool complete = true;
  bool boolean = false;
  std::uint64_t integer = 0;
  std::int64_t negative = 0;
  double floating = 0;
  std::string text;  // decoded string, or a number's raw text
  std::vector<Node> items;
  std::vector<Member> members;
};

struct Member {
  std::string key;
  std::size_t key_end = 0;    // just past the key's closing quote
  std::size_t after_key = 0;  // first non-space byte after that (or the text's end)
  std::optional<Node> value;  // absent when the text broke before the value
};

// A fault located at a byte offset. The offset follows the streaming
// reader's convention: see position_at.
struct Error {
  std::string message;
  std::size_t offset = 0;
};

struct Document {
  std::string text;
  std::optional<Node> root;           // absent when the text broke before any value
  std::optional<Error> syntax_error;  // the first one, trailing characters included
};

// Parses UTF-8 JSON text (explicit length: a NUL byte is an ordinary byte).
// Strings must be valid UTF-8 after unescaping; an exponent that overflows
// a double is an error; an underflow reads as zero.
Document parse(std::string_view text);

struct Position {
  std::size_t line = 1;
  std::size_t column = 0;
};

// Line: 1 + the line feeds before `offset`. Column: bytes from the start of
// that line up to `offset`, so it names the byte just before the offset,
// counted from 1; right after a line feed it is 0.
Position position_at(std::string_view text, std::size_t offset);

// "message at line L column C".
std::string format_error(std::string_view text, const Error& error);

}  // namespace kestrum::json
