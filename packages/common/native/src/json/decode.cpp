#include "json/decode.h"

#include <algorithm>
#include <limits>

#include "json/scan.h"
#include "json/text.h"

namespace kestrum::json {
namespace {

using detail::Syntax;

bool is_container(const Node& node) {
  return node.kind == Kind::kArray || node.kind == Kind::kObject;
}

std::string backquoted(std::string_view name) { return "`" + std::string(name) + "`"; }

std::string unknown_name(std::string_view what, std::string_view name,
                         std::span<const std::string_view> names) {
  std::string message = "unknown " + std::string(what) + " " + backquoted(name);
  if (names.empty()) return message + ", there are no " + std::string(what) + "s";
  return message + ", expected " + expected_names(names);
}

}  // namespace

std::string expected_names(std::span<const std::string_view> names) {
  if (names.size() == 1) return backquoted(names[0]);
  if (names.size() == 2) return backquoted(names[0]) + " or " + backquoted(names[1]);
  std::string out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += backquoted(names[i]);
  }
  return out;
}

std::string describe(const Node& node) {
  switch (node.kind) {
    case Kind::kNull:
      return "null";
    case Kind::kBoolean:
      return node.boolean ? "boolean `true`" : "boolean `false`";
    case Kind::kInteger:
      return "integer `" + std::to_string(node.integer) + "`";
    case Kind::kNegative:
      return "integer `" + std::to_string(node.negative) + "`";
    case Kind::kFloating:
      return "floating point `" + format_float(node.floating) + "`";
    case Kind::kString:
      return "string " + debug_quote(node.text);
    case Kind::kArray:
      return "sequence";
    case Kind::kObject:
      return "map";
  }
  return "null";
}

Decoder::Decoder(const Document& document, Positioning positioning)
    : document_(document), positioning_(positioning) {}

Error Decoder::error(std::size_t at, std::string message) const {
  const bool after_root = positioning_ == Positioning::kAfterRoot && document_.root;
  return Error{std::move(message), after_root ? document_.root->end : at};
}

Error Decoder::invalid_type(const Node& node, std::string_view wanted) const {
  // A bracket is refused as soon as it is seen; a scalar once it is read.
  const std::size_t at = is_container(node) ? node.start : node.end;
  return error(at, "invalid type: " + describe(node) + ", expected " + std::string(wanted));
}

Error Decoder::invalid_value(const Node& node, std::string_view wanted) const {
  return error(node.end, "invalid value: " + describe(node) + ", expected " + std::string(wanted));
}

Error Decoder::syntax() const {
  if (document_.syntax_error) return *document_.syntax_error;
  // Only a tree that broke off carries absent values, and then an error
  // was recorded; this keeps a misuse from passing silently.
  return detail::syntax_error(Syntax::kEofValue, document_.text.size());
}

Decoded<std::uint64_t> Decoder::unsigned_integer(const Node& node, std::uint64_t max,
                                                 std::string_view wanted) {
  if (node.kind == Kind::kInteger && node.integer <= max) return node.integer;
  if (node.kind == Kind::kInteger || node.kind == Kind::kNegative) {
    return fail_with(invalid_value(node, wanted));
  }
  return fail_with(invalid_type(node, wanted));
}

Decoded<std::int64_t> Decoder::signed_integer(const Node& node, std::int64_t min, std::int64_t max,
                                              std::string_view wanted) {
  if (node.kind == Kind::kInteger && node.integer <= static_cast<std::uint64_t>(max)) {
    return static_cast<std::int64_t>(node.integer);
  }
  if (node.kind == Kind::kNegative && node.negative >= min) return node.negative;
  if (node.kind == Kind::kInteger || node.kind == Kind::kNegative) {
    return fail_with(invalid_value(node, wanted));
  }
  return fail_with(invalid_type(node, wanted));
}

Decoded<std::uint64_t> Decoder::u64(const Node& node) {
  return unsigned_integer(node, std::numeric_limits<std::uint64_t>::max(), "u64");
}

Decoded<std::uint32_t> Decoder::u32(const Node& node) {
  auto value = unsigned_integer(node, std::numeric_limits<std::uint32_t>::max(), "u32");
  if (!value) return fail_with(value.take_error());
  return static_cast<std::uint32_t>(*value);
}

Decoded<std::uint8_t> Decoder::u8(const Node& node) {
  auto value = unsigned_integer(node, std::numeric_limits<std::uint8_t>::max(), "u8");
  if (!value) return fail_with(value.take_error());
  return static_cast<std::uint8_t>(*value);
}

Decoded<std::int32_t> Decoder::i32(const Node& node) {
  using Limits = std::numeric_limits<std::int32_t>;
  auto value = signed_integer(node, Limits::min(), Limits::max(), "i32");
  if (!value) return fail_with(value.take_error());
  return static_cast<std::int32_t>(*value);
}

Decoded<double> Decoder::f64(const Node& node) {
  switch (node.kind) {
    case Kind::kInteger:
      return static_cast<double>(node.integer);
    case Kind::kNegative:
      return static_cast<double>(node.negative);
    case Kind::kFloating:
      return node.floating;
    default:
      return fail_with(invalid_type(node, "f64"));
  }
}

Decoded<bool> Decoder::boolean(const Node& node) {
  if (node.kind == Kind::kBoolean) return node.boolean;
  return fail_with(invalid_type(node, "a boolean"));
}

Decoded<std::string> Decoder::string(const Node& node, std::string_view wanted) {
  if (node.kind == Kind::kString) return node.text;
  return fail_with(invalid_type(node, wanted));
}

Decoded<std::vector<std::string>> Decoder::strings(const Node& node, std::string_view wanted_item) {
  std::vector<std::string> out;
  auto read = sequence(node, [&](const Node& item) -> Checked {
    auto text = string(item, wanted_item);
    if (!text) return fail_with(text.take_error());
    out.push_back(std::move(*text));
    return {};
  });
  if (!read) return fail_with(read.take_error());
  return out;
}

Decoded<std::size_t> Decoder::variant_named(std::string_view name, std::size_t at,
                                            std::span<const std::string_view> names) const {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found != names.end()) return static_cast<std::size_t>(found - names.begin());
  return fail_with(error(at, unknown_name("variant", name, names)));
}

// Unit variants the way a buffered reader takes them: the object form's
// member count is checked before its name, and its value must be null.
Decoded<std::size_t> Decoder::variant(const Node& node, std::span<const std::string_view> names,
                                      std::string_view wanted) {
  if (node.kind == Kind::kString) return variant_named(node.text, node.end, names);
  if (node.kind != Kind::kObject) return fail_with(invalid_type(node, wanted));
  if (!node.complete) return fail_with(syntax());
  if (node.members.size() != 1) {
    return fail_with(error(node.end, "invalid value: map, expected map with a single key"));
  }
  const Member& member = node.members.front();
  auto index = variant_named(member.key, member.key_end, names);
  if (!index) return index;
  if (member.value->kind != Kind::kNull) return fail_with(invalid_type(*member.value, "unit"));
  return index;
}

Decoded<std::size_t> Decoder::variant_identifier(const Node& node,
                                                 std::span<const std::string_view> names) {
  if (node.kind == Kind::kString) return variant_named(node.text, node.end, names);
  if (node.kind != Kind::kInteger) return fail_with(invalid_type(node, "variant identifier"));
  if (node.integer < names.size()) return static_cast<std::size_t>(node.integer);
  return fail_with(invalid_value(node, "variant index 0 <= i < " + std::to_string(names.size())));
}

Error Decoder::unknown_field(const Member& member,
                             const std::vector<std::string_view>& names) const {
  return error(member.after_key, unknown_name("field", member.key, names));
}

// A record read from an array stops after its last field and then expects
// the closing bracket; whatever else follows is judged the way the reader
// judges the end of a list it stopped reading early.
Checked Decoder::array_record_end(std::size_t after_last) const {
  const std::string_view text = document_.text;
  const auto peeked = [&](Syntax syntax, std::size_t at) -> Checked {
    Error found = detail::syntax_error(syntax, std::min(text.size(), at + 1));
    return fail_with(error(found.offset, std::move(found.message)));
  };
  std::size_t at = detail::skip_space(text, after_last);
  if (at >= text.size()) return peeked(Syntax::kEofList, at);
  if (text[at] == ']') return {};
  if (text[at] != ',') return peeked(Syntax::kTrailingCharacters, at);
  at = detail::skip_space(text, at + 1);
  if (at < text.size() && text[at] == ']') return peeked(Syntax::kTrailingComma, at);
  return peeked(Syntax::kTrailingCharacters, at);
}

std::string Decoder::duplicate_field(std::string_view key) {
  return "duplicate field " + backquoted(key);
}

std::string Decoder::invalid_length(std::size_t index, std::string_view record, std::size_t count) {
  const std::string elements = count == 1 ? " element" : " elements";
  return "invalid length " + std::to_string(index) + ", expected " + std::string(record) +
         " with " + std::to_string(count) + elements;
}

}  // namespace kestrum::json
