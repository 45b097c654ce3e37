#include "serve/dispatch.h"

#include "desktop/lookups.h"
#include "serve/ownership.h"
#include "serve/reply_fields.h"

namespace kestrum::computer {
namespace {

Outcome missing(std::string_view service) { return Failure{std::string(service)}; }

// A refusal or failure of a check as the operation's outcome; nothing when
// the check allows.
std::optional<Outcome> stopped(CheckResult check) {
  if (auto* refusal = std::get_if<Refusal>(&check)) return Outcome(std::move(*refusal));
  if (auto* failure = std::get_if<Failure>(&check)) return Outcome(std::move(*failure));
  return std::nullopt;
}

struct Handle {
  ServerState& state;
  Party party;

  Outcome operator()(const op::Hello&) const {
    Reply reply;
    reply.fields["permissions"] = permissions_object(state.desktop);
    reply.fields["platform"] = kPlatform;
    reply.fields["screen"] = screen_object(screen_rect(state.desktop));
    return reply;
  }

  Outcome operator()(const op::Grant& grant) const {
    auto granted = set_grants(state, grant.apps);
    if (!granted) return granted.error();
    return Reply{};
  }

  Outcome operator()(const op::Owner& owner) const {
    set_owner(state, owner.owner);
    return Reply{};
  }

  Outcome operator()(const op::Apps&) const { return missing(kNoApplicationList); }

  // Capture consults no ownership: grants decide only what is visible.
  Outcome operator()(const op::Capture&) const { return missing(kNoScreenCapture); }

  Outcome operator()(const op::Click& click) const {
    if (click.count < 1 || click.count > 3) return Failure{std::string(kBadClickCount)};
    return pointer_then_input({click.x, click.y});
  }

  Outcome operator()(const op::Move& move) const { return pointer_then_input({move.x, move.y}); }

  Outcome operator()(const op::Drag& drag) const {
    if (drag.path.size() < 2) return Failure{std::string(kShortDrag)};
    // Every point is checked before any event.
    for (const Point& point : drag.path) {
      if (auto stop = stopped(check_pointer_target(state, party, point))) return *stop;
    }
    return missing(kNoInputSynthesis);
  }

  Outcome operator()(const op::Scroll& scroll) const {
    return pointer_then_input({scroll.x, scroll.y});
  }

  Outcome operator()(const op::Type& type) const {
    // Nothing to type passes without any check.
    if (type.text.empty()) return Reply{};
    return keyboard_then_input();
  }

  Outcome operator()(const op::Key&) const { return keyboard_then_input(); }

  Outcome operator()(const op::Open& open) const {
    if (auto stop = stopped(check_open(state, open.app))) return *stop;
    return missing(kNoApplicationOpening);
  }

  Outcome pointer_then_input(Point point) const {
    if (auto stop = stopped(check_pointer_target(state, party, point))) return *stop;
    return missing(kNoInputSynthesis);
  }

  Outcome keyboard_then_input() const {
    if (auto stop = stopped(check_keyboard_target(state, party))) return *stop;
    return missing(kNoInputSynthesis);
  }
};

}  // namespace

Outcome handle_request(ServerState& state, const Op& op, Party party) {
  return std::visit(Handle{state, party}, op);
}

}  // namespace kestrum::computer
