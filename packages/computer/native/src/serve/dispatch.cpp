#include "serve/dispatch.h"

#include "desktop/apps.h"
#include "desktop/lookups.h"
#include "desktop/open_app.h"
#include "serve/capture.h"
#include "serve/input_ops.h"
#include "serve/ownership.h"
#include "serve/reply_fields.h"

namespace kestrum::computer {
namespace {

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

  Outcome operator()(const op::Apps&) const {
    Reply reply;
    reply.fields = list_apps(state.desktop, state.own);
    return reply;
  }

  // Capture consults no ownership: grants decide only what is visible.
  Outcome operator()(const op::Capture& capture) const {
    return capture_screen(state, capture.max_side);
  }

  Outcome operator()(const op::Click& click) const { return click_at(state, party, click); }
  Outcome operator()(const op::Move& move) const { return move_to(state, party, {move.x, move.y}); }
  Outcome operator()(const op::Drag& drag) const { return drag_along(state, party, drag.path); }
  Outcome operator()(const op::Scroll& scroll) const { return scroll_at(state, party, scroll); }
  Outcome operator()(const op::Type& type) const { return type_text(state, party, type.text); }
  Outcome operator()(const op::Key& key) const { return press_keys(state, party, key.keys); }

  Outcome operator()(const op::Open& open) const {
    if (auto stop = check_open(state, open.app)) return *stop;
    auto opened = open_app(state.desktop, open.app);
    if (!opened) return Failure{opened.take_error()};
    return Reply{};
  }
};

}  // namespace

Outcome handle_request(ServerState& state, const Op& op, Party party) {
  return std::visit(Handle{state, party}, op);
}

}  // namespace kestrum::computer
