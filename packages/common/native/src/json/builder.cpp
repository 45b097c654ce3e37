#include "json/builder.h"

#include "json/scan.h"

namespace kestrum::json::detail {

Expect TreeBuilder::expect() const {
  if (open_.empty()) return root_ ? Expect::kEnd : Expect::kRootValue;
  const Node& top = *open_.back();
  if (top.kind == Kind::kArray) return top.items.empty() ? Expect::kFirstItem : Expect::kNextItem;
  if (top.members.empty()) return Expect::kFirstKey;
  return top.members.back().value ? Expect::kNextKey : Expect::kColon;
}

Node& TreeBuilder::slot() {
  if (open_.empty()) return root_.emplace();
  Node& top = *open_.back();
  if (top.kind == Kind::kArray) return top.items.emplace_back();
  return top.members.back().value.emplace();
}

void TreeBuilder::value(Node node) {
  last_end_ = node.end;
  slot() = std::move(node);
}

void TreeBuilder::open(Kind kind, std::size_t bracket) {
  Node& node = slot();
  node.kind = kind;
  node.start = bracket;
  node.end = bracket + 1;
  node.complete = false;
  open_.push_back(&node);
  last_end_ = bracket + 1;
}

void TreeBuilder::key(std::string key, std::size_t key_end) {
  Member& member = open_.back()->members.emplace_back();
  member.key = std::move(key);
  member.key_end = key_end;
  member.after_key = skip_space(text_, key_end);
  last_end_ = key_end;
}

void TreeBuilder::close(std::size_t end) {
  Node& node = *open_.back();
  node.end = end;
  node.complete = true;
  open_.pop_back();
  last_end_ = end;
}

}  // namespace kestrum::json::detail
