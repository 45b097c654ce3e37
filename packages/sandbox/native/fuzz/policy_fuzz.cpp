// Feeds arbitrary bytes to parse_policy: whatever the input, it must return
// a policy or a message, never crash, hang or read out of bounds.
//
// It also checks the JSON reader's two paths against each other: the tree
// and the error from the library's fast path (with our scanner finishing)
// must equal what our scanner alone produces from the start.
#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto policy = kestrum::sandbox::parse_policy(text);
  if (!policy && policy.error().empty()) __builtin_trap();

  const Document document = kestrum::json::parse(text);
  if (describe(document.root, document.syntax_error) != scanner_alone(text)) __builtin_trap();
  return 0;
}
