#include "serve/ownership.h"

#include <algorithm>
#include <cmath>

#include "desktop/lookups.h"

namespace kestrum::computer {
namespace {

Refusal refuse(RefusalKind kind) { return Refusal{kind, "", ""}; }

// Only the main display counts; a coordinate that is not a number is never
// on it.
bool off_screen(const ScreenRect& rect, Point point) {
  if (std::isnan(point.x) || std::isnan(point.y)) return true;
  return point.x < rect.x || point.y < rect.y || point.x >= rect.x + rect.width ||
         point.y >= rect.y + rect.height;
}

// The decision once the owner and the snapshot are known.
std::optional<Outcome> judge_app(const AppRecord& app, const std::set<std::string>& granted,
                                 RefusalKind outside) {
  if (app.is_own) return refuse(RefusalKind::kKestrum);
  if (granted.contains(app.id)) return std::nullopt;
  return Refusal{outside, app.id, app.name};
}

}  // namespace

void note_person_input(ServerState& state, const InputNote& note) {
  bool takeover = false;
  {
    const std::lock_guard<std::mutex> hold(state.control_lock);
    ControlState& control = state.control;
    if (control.owner != Party::kAgent || control.granted.empty()) return;
    if (const auto* motion = std::get_if<MotionNote>(&note)) {
      control.motion_total += std::fabs(motion->dx) + std::fabs(motion->dy);
      takeover = control.motion_total >= kTakeoverMotion;
    } else {
      takeover = true;
    }
    if (takeover) control.owner = Party::kPerson;
  }
  // Announced outside the control lock: no thread holds two locks.
  if (takeover) (void)write_message(state.output, takeover_event());
}

void set_owner(ServerState& state, Party party) {
  const std::lock_guard<std::mutex> hold(state.control_lock);
  state.control.owner = party;
  state.control.motion_total = 0;
}

Result<void, Refusal> set_grants(ServerState& state, const std::vector<std::string>& apps) {
  if (state.own.app && std::find(apps.begin(), apps.end(), *state.own.app) != apps.end()) {
    return fail_with(refuse(RefusalKind::kKestrum));
  }
  std::set<std::string> granted(apps.begin(), apps.end());
  const std::lock_guard<std::mutex> hold(state.control_lock);
  state.control.granted = std::move(granted);
  return {};
}

Result<std::set<std::string>, Refusal> check_owner(ServerState& state, Party party) {
  const std::lock_guard<std::mutex> hold(state.control_lock);
  const Party owner = state.control.owner;
  if (owner == party) return state.control.granted;
  switch (owner) {
    case Party::kAgent:
      return fail_with(refuse(RefusalKind::kAgent));
    case Party::kPerson:
      return fail_with(refuse(RefusalKind::kPerson));
  }
  return fail_with(refuse(RefusalKind::kPerson));
}

std::optional<Outcome> check_pointer_target(ServerState& state, Party party, Point point) {
  auto granted = check_owner(state, party);
  if (!granted) return granted.error();
  const ScreenRect rect = screen_rect(state.desktop);
  auto found = app_at_point(state.desktop, point.x, point.y, state.own);
  if (!found) return Failure{found.error()};
  // The display test comes after the lookup and overrides its result.
  if (off_screen(rect, point)) return refuse(RefusalKind::kOffScreen);
  const auto* app = std::get_if<AppRecord>(&*found);
  if (!app) return refuse(RefusalKind::kDesktop);
  return judge_app(*app, *granted, RefusalKind::kOutside);
}

std::optional<Outcome> check_keyboard_target(ServerState& state, Party party) {
  auto granted = check_owner(state, party);
  if (!granted) return granted.error();
  const std::optional<AppRecord> front = frontmost_app(state.desktop, state.own);
  // Secure keyboard entry blocks only the agent's keystrokes.
  if (party == Party::kAgent && state.desktop.secure_event_input_enabled()) {
    return refuse(RefusalKind::kSecureInput);
  }
  if (!front) return refuse(RefusalKind::kNoApp);
  return judge_app(*front, *granted, RefusalKind::kNotInFront);
}

std::optional<Outcome> check_open(ServerState& state, const std::string& app) {
  auto granted = check_owner(state, Party::kAgent);
  if (!granted) return granted.error();
  const bool own = state.own.app && *state.own.app == app;
  if (!granted->contains(app) || own) return Refusal{RefusalKind::kNotGranted, app, ""};
  return std::nullopt;
}

}  // namespace kestrum::computer
