// Builds the document tree from parse events, whoever produces them: the
// library's reader on the fast path, our own scanner after it stops. What
// may come next is read off the tree itself, so either producer can take
// over from the other at any event.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/document.h"

namespace kestrum::json::detail {

enum class Expect {
  kRootValue,  // nothing read yet
  kEnd,        // the root value is complete; only white space may follow
  kFirstItem,  // just after '['
  kNextItem,   // after an array element
  kFirstKey,   // just after '{'
  kNextKey,    // after a member's value
  kColon,      // after a key
};

class TreeBuilder {
 public:
  explicit TreeBuilder(std::string_view text) : text_(text) {}

  Expect expect() const;
  std::size_t depth() const { return open_.size(); }
  // Just past the last token accepted.
  std::size_t last_end() const { return last_end_; }

  // A scalar whose kind, offsets and value are set.
  void value(Node node);
  void open(Kind kind, std::size_t bracket);
  void key(std::string key, std::size_t key_end);
  void close(std::size_t end);

  // The tree; containers still open are left marked incomplete.
  std::optional<Node> finish() && { return std::move(root_); }

 private:
  Node& slot();

  std::string_view text_;
  std::optional<Node> root_;
  // Every ancestor stays put while a descendant is open: only the innermost
  // container grows, so these pointers remain valid.
  std::vector<Node*> open_;
  std::size_t last_end_ = 0;
};

}  // namespace kestrum::json::detail
