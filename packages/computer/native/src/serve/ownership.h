// Who controls the computer, what the agent was granted, and the checks
// every action passes. Identifiers are compared byte for byte.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"
#include "serve/outcome.h"
#include "serve/request.h"
#include "serve/state.h"

namespace kestrum::computer {

// Motion adds up to a takeover once the person has moved this far (points).
inline constexpr double kTakeoverMotion = 6.0;

struct MotionNote {
  double dx = 0;
  double dy = 0;
};
struct PressNote {};
using InputNote = std::variant<MotionNote, PressNote>;

// The person used the mouse or keyboard. A takeover is announced with the
// event message after the control lock is released; a failed write is
// dropped (the serve loop meets the broken output on its own next write).
void note_person_input(ServerState& state, const InputNote& note);

// Hands control to `party` and forgets the motion so far; announces nothing.
void set_owner(ServerState& state, Party party);

// Replaces the grants, unless one of them is the server's own application
// (refused with "kestrum"; the grants stay as they were).
Result<void, Refusal> set_grants(ServerState& state, const std::vector<std::string>& apps);

// A snapshot of the grants when `party` owns the computer; otherwise the
// refusal named after the owner.
Result<std::set<std::string>, Refusal> check_owner(ServerState& state, Party party);

// The checks before an action: nothing when it may go ahead, otherwise the
// refusal or failure that is the operation's outcome.
std::optional<Outcome> check_pointer_target(ServerState& state, Party party, Point point);
std::optional<Outcome> check_keyboard_target(ServerState& state, Party party);
// Always checks ownership as the agent, whoever asked.
std::optional<Outcome> check_open(ServerState& state, const std::string& app);

}  // namespace kestrum::computer
