#include "desktop/input.h"

#include <algorithm>

#include "desktop/unicode.h"

namespace kestrum::computer {
namespace {

using input::Direction;
using input::MotionButton;

struct ButtonEvents {
  MouseButton button;
  std::uint32_t system_button;  // kCGMouseButtonLeft, Right, Center
  std::uint32_t down;
  std::uint32_t up;
};
constexpr ButtonEvents kButtonEvents[] = {
    {MouseButton::kLeft, 0, event_type::kLeftMouseDown, event_type::kLeftMouseUp},
    {MouseButton::kRight, 1, event_type::kRightMouseDown, event_type::kRightMouseUp},
    {MouseButton::kMiddle, 2, event_type::kOtherMouseDown, event_type::kOtherMouseUp},
};

const ButtonEvents& button_events(MouseButton button) {
  for (const ButtonEvents& entry : kButtonEvents) {
    if (entry.button == button) return entry;
  }
  return kButtonEvents[0];
}

constexpr std::uint32_t kLeftButton = 0;
constexpr std::uint32_t kLineUnits = 1;  // kCGScrollEventUnitLine
constexpr std::uint32_t kWheelCount = 2;
constexpr std::uint16_t kTextKeyCode = 0;

// Negation as the system's 32-bit arithmetic does it: the minimum stays.
std::int32_t negated(std::int32_t value) {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(value));
}

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Pieces of at most kTextPieceUnits code units that never split a pair.
std::vector<std::u16string> unit_pieces(const std::u16string& units) {
  std::vector<std::u16string> pieces;
  for (std::size_t at = 0; at < units.size();) {
    std::size_t size = std::min(kTextPieceUnits, units.size() - at);
    if (at + size < units.size() && is_high_surrogate(units[at + size - 1])) --size;
    pieces.push_back(units.substr(at, size));
    at += size;
  }
  return pieces;
}

using Events = std::vector<SyntheticEvent>;

struct Translate {
  Result<Events> operator()(const input::Motion& motion) const {
    std::uint32_t type = event_type::kMouseMoved;
    switch (motion.button) {
      case MotionButton::kNone:
        break;
      case MotionButton::kLeft:
        type = event_type::kLeftMouseDragged;
        break;
    }
    return Events{MouseEventParams{type, motion.point.x, motion.point.y, kLeftButton, {}}};
  }

  Result<Events> operator()(const input::Button& press) const {
    const ButtonEvents& events = button_events(press.button);
    std::uint32_t type = events.down;
    switch (press.direction) {
      case Direction::kDown:
        break;
      case Direction::kUp:
        type = events.up;
        break;
    }
    return Events{MouseEventParams{type, press.point.x, press.point.y, events.system_button,
                                   press.click_state}};
  }

  Result<Events> operator()(const input::Scroll& scroll) const {
    return Events{
        ScrollEventParams{kLineUnits, kWheelCount, negated(scroll.dy), negated(scroll.dx), 0}};
  }

  Result<Events> operator()(const input::Key& key) const {
    auto code = key_code(key.key);
    if (!code) return fail(code.error());
    // Modifiers travel as flags on the key itself; no modifier key events.
    const std::uint64_t flags = modifier_mask(key.modifiers);
    return Events{KeyEventParams{*code, true, flags, {}}, KeyEventParams{*code, false, flags, {}}};
  }

  Result<Events> operator()(const input::Text& text) const {
    Events events;
    for (const std::u16string& piece : unit_pieces(utf16_from_scalars(text.text))) {
      events.push_back(KeyEventParams{kTextKeyCode, true, {}, piece});
      events.push_back(KeyEventParams{kTextKeyCode, false, {}, piece});
    }
    return events;
  }
};

}  // namespace

Result<std::vector<SyntheticEvent>> platform_events(const InputEvent& input) {
  return std::visit(Translate{}, input);
}

Status post_input(Desktop& desktop, const InputEvent& input) {
  auto events = platform_events(input);
  if (!events) return fail(events.error());
  for (const SyntheticEvent& event : *events) {
    if (!desktop.post_event(event)) return fail(std::string(kCannotMakeEvent));
  }
  return {};
}

}  // namespace kestrum::computer
