#include "serve/tap.h"

#include "serve/ownership.h"

namespace kestrum::computer {
namespace {

bool is_motion(std::uint32_t type) {
  switch (type) {
    case event_type::kMouseMoved:
    case event_type::kLeftMouseDragged:
    case event_type::kRightMouseDragged:
    case event_type::kOtherMouseDragged:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TapHolder::store(std::unique_ptr<EventTap> tap) {
  std::unique_ptr<EventTap> previous;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    previous = std::exchange(tap_, std::move(tap));
  }
  // `previous` is released here, outside the lock.
}

void TapHolder::reenable() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (tap_) tap_->enable();
}

void TapContext::on_event(std::uint32_t type, const TapEvent& event) {
  on_tap_event(state_, holder_, type, event);
}

void on_tap_event(ServerState& state, TapHolder& holder, std::uint32_t type,
                  const TapEvent& event) {
  if (type == event_type::kTapDisabledByTimeout || type == event_type::kTapDisabledByUserInput) {
    holder.reenable();
    return;
  }
  if (event.integer_field(EventField::kSourceUserData) == kEventTag) return;
  if (!is_motion(type)) {
    note_person_input(state, PressNote{});
    return;
  }
  const auto dx = static_cast<double>(event.integer_field(EventField::kMouseDeltaX));
  const auto dy = static_cast<double>(event.integer_field(EventField::kMouseDeltaY));
  note_person_input(state, MotionNote{dx, dy});
}

}  // namespace kestrum::computer
