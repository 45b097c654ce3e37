// The six input operations: each runs the target checks between its events
// and posts the primitives in order. A refusal or failure ends the operation
// after the events already posted, which stay posted (a drag lets its button
// go first). They take no lock beyond the checks' brief ones.
#pragma once

#include <string_view>
#include <vector>

#include "serve/outcome.h"
#include "serve/request.h"
#include "serve/state.h"

namespace kestrum::computer {

inline constexpr std::string_view kBadClickCount = "a click counts 1 to 3 clicks";
inline constexpr std::string_view kShortDrag = "a drag needs at least two points";

Outcome move_to(ServerState& state, Party party, Point point);
Outcome click_at(ServerState& state, Party party, const op::Click& click);
Outcome drag_along(ServerState& state, Party party, const std::vector<Point>& path);
Outcome scroll_at(ServerState& state, Party party, const op::Scroll& scroll);
// A text that does not parse fails before any check.
Outcome press_keys(ServerState& state, Party party, std::string_view keys);
// An empty text succeeds at once, with no check.
Outcome type_text(ServerState& state, Party party, std::string_view text);

}  // namespace kestrum::computer
