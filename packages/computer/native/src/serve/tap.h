// The event tap's callback: tells the server's own events from the
// person's and turns the person's into input notes. The platform delivers
// events; every decision is made here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "desktop/desktop.h"
#include "serve/state.h"

namespace kestrum::computer {

// The tap, kept so that the callback can switch it back on when the system
// switches it off.
class TapHolder {
 public:
  // Replaces (and so releases) any tap stored before.
  void store(std::unique_ptr<EventTap> tap);
  // Switches the stored tap on again; nothing when none is stored.
  void reenable();

 private:
  std::mutex lock_;
  std::unique_ptr<EventTap> tap_;  // guarded by lock_
};

// The callback's user data: the shared state and the tap holder.
class TapContext final : public TapHandler {
 public:
  explicit TapContext(ServerState& state) : state_(state) {}

  TapHolder& holder() { return holder_; }
  void on_event(std::uint32_t type, const TapEvent& event) override;

 private:
  ServerState& state_;
  TapHolder holder_;
};

// One tap event, decided: re-enable, ignore, or note the person's input.
void on_tap_event(ServerState& state, TapHolder& holder, std::uint32_t type, const TapEvent& event);

}  // namespace kestrum::computer
