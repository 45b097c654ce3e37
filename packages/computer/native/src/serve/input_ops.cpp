#include "serve/input_ops.h"

#include <optional>

#include "desktop/input.h"
#include "desktop/keys.h"
#include "desktop/unicode.h"
#include "serve/ownership.h"

namespace kestrum::computer {
namespace {

using input::Direction;
using input::MotionButton;

// What ends an operation early; nothing while it goes on.
using Stop = std::optional<Outcome>;

Stop post(ServerState& state, const InputEvent& event) {
  auto posted = post_input(state.desktop, event);
  if (!posted) return Outcome(Failure{posted.take_error()});
  return std::nullopt;
}

input::Motion moved_to(Point point) { return {point, MotionButton::kNone}; }

input::Button left_button(Point point, Direction direction) {
  return {point, MouseButton::kLeft, 1, direction};
}

// With the left button down at the first point: drags through every further
// point and lets go at the last one reached.
Stop drag_through(ServerState& state, Party party, const std::vector<Point>& path) {
  Point reached = path.front();
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (Stop refused = check_pointer_target(state, party, path[i])) {
      // The screen changed under the drag: never leave the button down.
      if (Stop failed = post(state, left_button(reached, Direction::kUp))) return failed;
      return refused;
    }
    if (Stop failed = post(state, input::Motion{path[i], MotionButton::kLeft})) return failed;
    reached = path[i];
  }
  return post(state, left_button(reached, Direction::kUp));
}

}  // namespace

Outcome move_to(ServerState& state, Party party, Point point) {
  if (Stop stop = check_pointer_target(state, party, point)) return *stop;
  if (Stop stop = post(state, moved_to(point))) return *stop;
  return Reply{};
}

Outcome click_at(ServerState& state, Party party, const op::Click& click) {
  if (click.count < 1 || click.count > 3) return Failure{std::string(kBadClickCount)};
  const Point point{click.x, click.y};
  if (Stop stop = check_pointer_target(state, party, point)) return *stop;
  if (Stop stop = post(state, moved_to(point))) return *stop;
  for (std::int64_t click_state = 1; click_state <= click.count; ++click_state) {
    if (Stop stop = check_pointer_target(state, party, point)) return *stop;
    for (const Direction direction : {Direction::kDown, Direction::kUp}) {
      const input::Button press{point, click.button, click_state, direction};
      if (Stop stop = post(state, press)) return *stop;
    }
  }
  return Reply{};
}

Outcome drag_along(ServerState& state, Party party, const std::vector<Point>& path) {
  if (path.size() < 2) return Failure{std::string(kShortDrag)};
  // A drag that cannot reach its end does not begin.
  for (const Point& point : path) {
    if (Stop stop = check_pointer_target(state, party, point)) return *stop;
  }
  const Point first = path.front();
  if (Stop stop = post(state, moved_to(first))) return *stop;
  if (Stop stop = check_pointer_target(state, party, first)) return *stop;
  if (Stop stop = post(state, left_button(first, Direction::kDown))) return *stop;
  if (Stop stop = drag_through(state, party, path)) return *stop;
  return Reply{};
}

Outcome scroll_at(ServerState& state, Party party, const op::Scroll& scroll) {
  const Point point{scroll.x, scroll.y};
  if (Stop stop = check_pointer_target(state, party, point)) return *stop;
  if (Stop stop = post(state, moved_to(point))) return *stop;
  // The scroll goes wherever the pointer is, so the point is checked again.
  if (Stop stop = check_pointer_target(state, party, point)) return *stop;
  if (Stop stop = post(state, input::Scroll{scroll.dx, scroll.dy})) return *stop;
  return Reply{};
}

Outcome press_keys(ServerState& state, Party party, std::string_view keys) {
  auto combination = parse_keys(keys);
  if (!combination) return Failure{combination.take_error()};
  if (Stop stop = check_keyboard_target(state, party)) return *stop;
  if (Stop stop = post(state, input::Key{combination->key, combination->modifiers})) return *stop;
  return Reply{};
}

Outcome type_text(ServerState& state, Party party, std::string_view text) {
  const std::u32string scalars = unicode_scalars(text);
  // The front application may change while typing; each piece is checked.
  for (std::size_t at = 0; at < scalars.size(); at += kTextPieceScalars) {
    if (Stop stop = check_keyboard_target(state, party)) return *stop;
    const input::Text piece{scalars.substr(at, kTextPieceScalars)};
    if (Stop stop = post(state, piece)) return *stop;
  }
  return Reply{};
}

}  // namespace kestrum::computer
