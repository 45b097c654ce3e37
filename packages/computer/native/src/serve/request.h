// One request line and its operation. Operation fields sit at the same level
// as "id", "by" and "op"; the alternatives of `Op` are in index order, so a
// variant index is the operation's wire index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "desktop/pointer.h"

namespace kestrum::computer {

enum class Party { kAgent, kPerson };

namespace op {
struct Hello {};
struct Grant {
  std::vector<std::string> apps;
};
struct Owner {
  Party owner = Party::kAgent;
};
struct Apps {};
struct Capture {
  std::uint64_t max_side = 0;
};
struct Click {
  double x = 0;
  double y = 0;
  MouseButton button = MouseButton::kLeft;
  std::uint8_t count = 1;
};
struct Move {
  double x = 0;
  double y = 0;
};
struct Drag {
  std::vector<Point> path;
};
struct Scroll {
  double x = 0;
  double y = 0;
  std::int32_t dx = 0;
  std::int32_t dy = 0;
};
struct Type {
  std::string text;
};
struct Key {
  std::string keys;
};
struct Open {
  std::string app;
};
}  // namespace op

using Op = std::variant<op::Hello, op::Grant, op::Owner, op::Apps, op::Capture, op::Click, op::Move,
                        op::Drag, op::Scroll, op::Type, op::Key, op::Open>;

struct Request {
  std::uint64_t id = 0;
  Party by = Party::kAgent;
  Op op;
};

// The wire names of the operations, in index order.
inline constexpr std::string_view kOpNames[] = {"hello",   "grant", "owner", "apps",
                                                "capture", "click", "move",  "drag",
                                                "scroll",  "type",  "key",   "open"};
static_assert(std::size(kOpNames) == std::variant_size_v<Op>);

// Reads one request line (without its line feed). The error is the parse
// error text with its position: "missing field `id` at line 1 column 20".
Result<Request> parse_request(std::string_view line);

}  // namespace kestrum::computer
