#include "json/document.h"

#include <rapidjson/reader.h>

#include <algorithm>

#include "base/utf8.h"
#include "json/builder.h"
#include "json/scan.h"

namespace kestrum::json {
namespace {

using detail::TreeBuilder;

// The library's input stream: an explicit length, so a NUL byte is read as
// itself (Peek also returns '\0' past the end; our scanner tells the two
// apart when the library stops there). Strings are decoded in place, in a
// scratch copy of the text: parsing into its own buffer would make the
// library do pointer arithmetic on a null stack, which is undefined.
class ScratchStream {
 public:
  using Ch = char;
  explicit ScratchStream(std::string& scratch) : data_(scratch.data()), size_(scratch.size()) {}

  Ch Peek() const { return src_ < size_ ? data_[src_] : '\0'; }
  Ch Take() { return src_ < size_ ? data_[src_++] : '\0'; }
  std::size_t Tell() const { return src_; }

  // Decoded text is never longer than its source, so writes stay behind
  // the read position.
  Ch* PutBegin() {
    dst_ = src_;
    return data_ + dst_;
  }
  void Put(Ch c) {
    if (dst_ < size_) data_[dst_++] = c;
  }
  void Flush() {}
  std::size_t PutEnd(Ch* begin) { return static_cast<std::size_t>(data_ + dst_ - begin); }

 private:
  char* data_;
  std::size_t size_;
  std::size_t src_ = 0;
  std::size_t dst_ = 0;
};

// Receives the library's events and forwards those our rules accept. It
// refuses (which stops the library) whatever the library lets through but
// we do not: bad UTF-8 and lone low surrogates in strings, numbers it reads
// differently (a leading zero, an exponent beyond a double), nesting past
// the limit. Refusing never touches the tree; our scanner then re-reads
// from the last accepted event and finds the exact fault.
class Forwarder {
 public:
  Forwarder(std::string_view text, const ScratchStream& stream, TreeBuilder& out)
      : text_(text), stream_(stream), out_(out) {}

  bool Null() { return literal(Kind::kNull, false); }
  bool Bool(bool value) { return literal(Kind::kBoolean, value); }
  // Numbers arrive as raw text (kParseNumbersAsStringsFlag); these are
  // never called.
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }

  bool RawNumber(const char*, rapidjson::SizeType, bool) {
    auto node = detail::scan_number(text_, value_start());
    if (!node || node->end != stream_.Tell()) return false;
    out_.value(std::move(*node));
    return true;
  }

  bool String(const char* data, rapidjson::SizeType length, bool) {
    const std::string_view value(data, length);
    if (!is_valid_utf8(value)) return false;
    Node node;
    node.kind = Kind::kString;
    node.start = value_start();
    node.end = stream_.Tell();
    node.text = std::string(value);
    out_.value(std::move(node));
    return true;
  }

  bool Key(const char* data, rapidjson::SizeType length, bool) {
    const std::string_view key(data, length);
    if (!is_valid_utf8(key)) return false;
    out_.key(std::string(key), stream_.Tell());
    return true;
  }

  bool StartObject() { return open(Kind::kObject); }
  bool StartArray() { return open(Kind::kArray); }
  bool EndObject(rapidjson::SizeType) { return close(); }
  bool EndArray(rapidjson::SizeType) { return close(); }

 private:
  // Between the last accepted token and a value there is white space and
  // at most one ',' or ':'.
  std::size_t value_start() const {
    std::size_t at = detail::skip_space(text_, out_.last_end());
    if (at < text_.size() && (text_[at] == ',' || text_[at] == ':')) {
      at = detail::skip_space(text_, at + 1);
    }
    return at;
  }

  bool literal(Kind kind, bool value) {
    Node node;
    node.kind = kind;
    node.boolean = value;
    node.start = value_start();
    node.end = stream_.Tell();
    out_.value(std::move(node));
    return true;
  }

  bool open(Kind kind) {
    if (out_.depth() >= kMaxDepth) return false;
    out_.open(kind, stream_.Tell() - 1);
    return true;
  }

  bool close() {
    out_.close(stream_.Tell());
    return true;
  }

  std::string_view text_;
  const ScratchStream& stream_;
  TreeBuilder& out_;
};

// Trailing text is ours to judge: the library would take a NUL byte after
// the root for the end of the input.
constexpr unsigned kParseFlags = rapidjson::kParseInsituFlag |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseStopWhenDoneFlag;

}  // namespace

Document parse(std::string_view text) {
  Document document;
  document.text = std::string(text);
  TreeBuilder builder(document.text);
  std::string scratch = document.text;
  ScratchStream stream(scratch);
  Forwarder forwarder(document.text, stream, builder);
  rapidjson::Reader reader;
  // The library's verdict is not needed: our scanner continues from the last
  // event it accepted, finishing the parse or naming the exact fault.
  reader.Parse<kParseFlags>(stream, forwarder);
  document.syntax_error = detail::resume(document.text, builder);
  document.root = std::move(builder).finish();
  return document;
}

Position position_at(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t last_feed = before.rfind('\n');
  const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
  Position position;
  position.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  position.column = offset - line_start;
  return position;
}

std::string format_error(std::string_view text, const Error& error) {
  const Position position = position_at(text, error.offset);
  return error.message + " at line " + std::to_string(position.line) + " column " +
         std::to_string(position.column);
}

}  // namespace kestrum::json
