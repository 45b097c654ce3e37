// Feeds arbitrary bytes to parse_policy: whatever the input, it must return
// a policy or a message, never crash, hang or read out of bounds.
//
// It also checks the JSON reader's two paths against each other: the tree
// and the error from the library's fast path (with our scanner finishing)
// must equal what our scanner alone produces from the start. Where the C++
// library has a floating-point from_chars (GNU's has; Apple's has not), every
// float the reader produced must equal its result bit for bit.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/builder.h"
#include "json/document.h"
#include "json/scan.h"
#include "policy/policy.h"

namespace {

using kestrum::json::Document;
using kestrum::json::Node;

void describe(const Node& node, std::string& out) {
  out += std::to_string(static_cast<int>(node.kind)) + "@" + std::to_string(node.start) + "-" +
         std::to_string(node.end) + (node.complete ? "" : "~") + (node.boolean ? "t" : "") + "[" +
         std::to_string(node.integer) + "|" + std::to_string(node.negative) + "|" +
         std::to_string(node.floating) + "|" + node.text + "]";
  for (const Node& item : node.items) describe(item, out);
  for (const auto& member : node.members) {
    out += "{" + member.key + "@" + std::to_string(member.key_end) + "," +
           std::to_string(member.after_key);
    if (member.value) describe(*member.value, out);
    out += "}";
  }
}

std::string describe(const std::optional<Node>& root,
                     const std::optional<kestrum::json::Error>& error) {
  std::string out = error ? error->message + "@" + std::to_string(error->offset) : "ok";
  if (root) describe(*root, out);
  return out;
}

std::string scanner_alone(std::string_view text) {
  kestrum::json::detail::TreeBuilder builder(text);
  const auto error = kestrum::json::detail::resume(text, builder);
  return describe(std::move(builder).finish(), error);
}

// A finite double from the reader equals the C++ library's reading of the
// same text; out of range there means the reader made it a zero.
void check_floats([[maybe_unused]] const Node& node) {
#if defined(__GLIBCXX__)
  if (node.kind == kestrum::json::Kind::kFloating) {
    double expected = 0;
    const char* first = node.text.data();
    const auto parsed = std::from_chars(first, first + node.text.size(), expected);
    if (parsed.ec == std::errc::result_out_of_range) expected = node.text[0] == '-' ? -0.0 : 0.0;
    if (std::memcmp(&expected, &node.floating, sizeof expected) != 0) __builtin_trap();
  }
  for (const Node& item : node.items) check_floats(item);
  for (const auto& member : node.members) {
    if (member.value) check_floats(*member.value);
  }
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto policy = kestrum::sandbox::parse_policy(text);
  if (!policy && policy.error().empty()) __builtin_trap();

  const Document document = kestrum::json::parse(text);
  if (describe(document.root, document.syntax_error) != scanner_alone(text)) __builtin_trap();
  if (document.root) check_floats(*document.root);
  return 0;
}
