// The primitives the input operations post, and the exact system events each
// one becomes. Every event goes through Desktop::post_event, which tags it
// and posts it at the HID level.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "desktop/desktop.h"
#include "desktop/keys.h"
#include "desktop/pointer.h"

namespace kestrum::computer {

namespace input {
enum class MotionButton { kNone, kLeft };
enum class Direction { kDown, kUp };

// Coordinates are global display points, used unchanged.
struct Motion {
  Point point;
  MotionButton button = MotionButton::kNone;  // kLeft makes a left drag
};
struct Button {
  Point point;
  MouseButton button = MouseButton::kLeft;
  std::int64_t click_state = 1;  // 1 to 3
  Direction direction = Direction::kDown;
};
// Lines, as the request gives them; the wheel values are their negations.
struct Scroll {
  std::int32_t dx = 0;
  std::int32_t dy = 0;
};
struct Key {
  KeySpec key;
  Modifiers modifiers;
};
// At most kTextPieceScalars scalar values; "type" cuts longer texts.
struct Text {
  std::u32string text;
};
}  // namespace input

using InputEvent =
    std::variant<input::Motion, input::Button, input::Scroll, input::Key, input::Text>;

// The most scalar values one Text carries: 8 scalars are at most 16 UTF-16
// code units, which one keyboard event can hold.
inline constexpr std::size_t kTextPieceScalars = 8;
inline constexpr std::size_t kTextPieceUnits = 16;

inline constexpr std::string_view kCannotMakeEvent = "the system could not make the event";

// The system events of one primitive, in posting order. Fails only with
// kNoKeyCode.
Result<std::vector<SyntheticEvent>> platform_events(const InputEvent& input);

// Posts the primitive's events back to back. Fails with kNoKeyCode before
// anything is posted, or with kCannotMakeEvent when the system makes no
// event; the events posted before that stay posted.
Status post_input(Desktop& desktop, const InputEvent& input);

}  // namespace kestrum::computer
