// Typed decoding of a parsed document, with the messages and positions of a
// streaming reader: the tree is walked in text order, so the first fault in
// the text wins, whether it is a typed one or a syntax error. Reaching a
// value the text broke before, or the end of a container cut short,
// reports the document's syntax error.
//
// Messages: "invalid type: <found>, expected <wanted>", "invalid value:
// <found>, expected <wanted>", "unknown field `k`, expected <names>",
// "duplicate field `k`", "missing field `k`", "invalid length N, expected
// <record> with M elements", "unknown variant `v`, expected <names>".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/document.h"

namespace kestrum::json {

template <class T>
using Decoded = Result<T, Error>;
using Checked = Result<void, Error>;

class Decoder;

enum class Presence { kRequired, kDefault };

// One field of a record: its key, whether it may be left out (it then keeps
// whatever the output already holds), and how its value is read into the
// output.
template <class T>
struct FieldRule {
  std::string_view name;
  Presence presence;
  Checked (*read)(Decoder&, const Node&, T&);
};

// A record read from an object (members in any order) or from an array
// (fields in table order; only fields with a default may be left off at the
// end, an element beyond the last field is an error).
template <class T>
struct RecordRule {
  std::string_view name;  // as in messages: "struct Policy"
  std::span<const FieldRule<T>> fields;
  bool ignore_unknown = false;  // members that are not fields are skipped
};

// Where typed errors are located.
enum class Positioning {
  kStreaming,  // where a streaming reader finds them
  // Just after the root value, which must be complete first: for records
  // checked only once the whole of them has been read.
  kAfterRoot,
};

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_names(std::span<const std::string_view> names);

// How a value is described in messages: "integer `5`", "floating point
// `1.5`", "string \"x\"", "boolean `true`", "null", "sequence", "map".
std::string describe(const Node& node);

// Moves a decoded value into `out`.
template <class T, class U>
Checked store(Decoded<T> decoded, U& out) {
  if (!decoded) return fail_with(decoded.take_error());
  out = std::move(*decoded);
  return {};
}

class Decoder {
 public:
  explicit Decoder(const Document& document, Positioning positioning = Positioning::kStreaming);
  // The decoder keeps a reference: the document must outlive it.
  explicit Decoder(Document&&, Positioning = Positioning::kStreaming) = delete;

  const Document& document() const { return document_; }

  // Reads the root with `read`; afterwards a syntax error still recorded
  // (text after the root) is the result.
  template <class F>
  Checked root(F&& read) {
    const Node* node = document_.root ? &*document_.root : nullptr;
    if (!node || (positioning_ == Positioning::kAfterRoot && !node->complete))
      return fail_with(syntax());
    if (auto result = read(*node); !result) return result;
    if (document_.syntax_error) return fail_with(syntax());
    return {};
  }

  // Integers within [min, max] of the wanted type ("u64", "u32", "u8",
  // "usize", "i32"): anything else is an invalid value (an integer out of
  // range) or an invalid type (floats included).
  Decoded<std::uint64_t> unsigned_integer(const Node& node, std::uint64_t max,
                                          std::string_view wanted);
  Decoded<std::int64_t> signed_integer(const Node& node, std::int64_t min, std::int64_t max,
                                       std::string_view wanted);
  Decoded<std::uint64_t> u64(const Node& node);
  Decoded<std::uint32_t> u32(const Node& node);
  Decoded<std::uint8_t> u8(const Node& node);
  Decoded<std::int32_t> i32(const Node& node);
  // Any number.
  Decoded<double> f64(const Node& node);
  Decoded<bool> boolean(const Node& node);
  // `wanted` names the expectation: "a string", "path string".
  Decoded<std::string> string(const Node& node, std::string_view wanted = "a string");
  Decoded<std::vector<std::string>> strings(const Node& node,
                                            std::string_view wanted_item = "a string");

  // Calls `each` on every element in order; `each` returns Checked.
  template <class F>
  Checked sequence(const Node& node, F&& each) {
    if (node.kind != Kind::kArray) return fail_with(invalid_type(node, "a sequence"));
    for (const Node& item : node.items) {
      if (auto result = each(item); !result) return result;
    }
    if (!node.complete) return fail_with(syntax());
    return {};
  }

  template <class T>
  Checked record(const Node& node, const RecordRule<T>& rule, T& out) {
    if (node.kind == Kind::kObject) return record_object(node, rule, out);
    if (node.kind == Kind::kArray) return record_array(node, rule, out);
    return fail_with(invalid_type(node, rule.name));
  }

  // A unit variant's index in `names`: given as a string, or as an object
  // whose only member has the name as key and null as value. Other values
  // are an invalid type with `wanted` as the expectation.
  Decoded<std::size_t> variant(const Node& node, std::span<const std::string_view> names,
                               std::string_view wanted = "string or map");

  // A variant named by a string, or given by its index in `names` as a
  // non-negative integer ("invalid value: integer `12`, expected variant
  // index 0 <= i < 12" beyond the last); anything else is an invalid type
  // with the expectation "variant identifier".
  Decoded<std::size_t> variant_identifier(const Node& node,
                                          std::span<const std::string_view> names);

  // Errors, positioned by the decoder's rule. `at` is where a streaming
  // reader would locate the error.
  Error error(std::size_t at, std::string message) const;
  Error invalid_type(const Node& node, std::string_view wanted) const;
  Error invalid_value(const Node& node, std::string_view wanted) const;
  // The document's syntax error: for values the text broke before.
  Error syntax() const;

 private:
  template <class T>
  Checked record_object(const Node& node, const RecordRule<T>& rule, T& out) {
    std::vector<bool> seen(rule.fields.size());
    for (const Member& member : node.members) {
      const std::optional<std::size_t> field = find_field(rule.fields, member.key);
      if (!field && !rule.ignore_unknown)
        return fail_with(unknown_field(member, names_of(rule.fields)));
      if (!field) {
        // A skipped value is still read through: a syntax error inside it counts.
        if (!member.value || !member.value->complete) return fail_with(syntax());
        continue;
      }
      if (seen[*field]) return fail_with(error(member.after_key, duplicate_field(member.key)));
      if (!member.value) return fail_with(syntax());
      seen[*field] = true;
      if (auto read = rule.fields[*field].read(*this, *member.value, out); !read) return read;
    }
    if (!node.complete) return fail_with(syntax());
    return check_missing(node, rule.fields, seen);
  }

  template <class T>
  Checked record_array(const Node& node, const RecordRule<T>& rule, T& out) {
    const std::size_t count = rule.fields.size();
    for (std::size_t i = 0; i < count; ++i) {
      if (i < node.items.size()) {
        if (auto read = rule.fields[i].read(*this, node.items[i], out); !read) return read;
        continue;
      }
      if (!node.complete) return fail_with(syntax());
      if (rule.fields[i].presence == Presence::kRequired) {
        return fail_with(error(node.end, invalid_length(i, rule.name, count)));
      }
    }
    if (node.items.size() < count) return {};
    return array_record_end(count == 0 ? node.start + 1 : node.items[count - 1].end);
  }

  template <class T>
  static std::optional<std::size_t> find_field(std::span<const FieldRule<T>> fields,
                                               std::string_view key) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name == key) return i;
    }
    return std::nullopt;
  }

  template <class T>
  static std::vector<std::string_view> names_of(std::span<const FieldRule<T>> fields) {
    std::vector<std::string_view> names;
    for (const auto& field : fields) names.push_back(field.name);
    return names;
  }

  template <class T>
  Checked check_missing(const Node& node, std::span<const FieldRule<T>> fields,
                        const std::vector<bool>& seen) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (!seen[i] && fields[i].presence == Presence::kRequired) {
        return fail_with(error(node.end, "missing field `" + std::string(fields[i].name) + "`"));
      }
    }
    return {};
  }

  Decoded<std::size_t> variant_named(std::string_view name, std::size_t at,
                                     std::span<const std::string_view> names) const;
  Error unknown_field(const Member& member, const std::vector<std::string_view>& names) const;
  Checked array_record_end(std::size_t after_last) const;
  static std::string duplicate_field(std::string_view key);
  static std::string invalid_length(std::size_t index, std::string_view record, std::size_t count);

  const Document& document_;
  Positioning positioning_;
};

}  // namespace kestrum::json
