// The person's input on X: XInput2 raw events (motion, button and key
// presses) of every master device, read on a connection of their own by
// the thread that runs the loop, and handed to the tap handler as the
// system's events would be. Raw events are delivered whatever window has
// the pointer or the focus, and whoever grabbed the devices.
//
// The server's own events come back too, from the XTest devices; those
// the record of posted events claims carry the tag. Everything else, a real
// device or another program's XTest events, is the person; except events
// from before the tap began, which a grab held back and let go later.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>

#include "desktop/desktop.h"
#include "x11/connection.h"
#include "x11/own_events.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

class TapLoop {
 public:
  // Null when the display cannot be opened or has no XInput 2.2.
  static std::unique_ptr<TapLoop> open(std::uint64_t mask, TapHandler& handler, OwnEvents& own);

  // Reads and delivers events until the connection is lost (which ends the
  // process).
  [[noreturn]] void run();

 private:
  TapLoop(DisplayPtr display, int opcode, std::uint64_t mask, TapHandler& handler, OwnEvents& own);
  void find_devices();
  void deliver(const XEvent& event);
  std::optional<OwnEvents::Posted> own_event(int evtype, int source, std::uint32_t detail);
  void measure(const XIRawEvent& raw, const std::optional<OwnEvents::Posted>& own, std::int64_t& dx,
               std::int64_t& dy);

  DisplayPtr display_;
  int opcode_;
  std::uint64_t mask_;
  TapHandler& handler_;
  OwnEvents& own_;
  std::set<int> xtest_devices_;
  std::set<int> relative_devices_;  // pointers whose raw motion is a delta
  Time started_ = CurrentTime;      // the server's clock when the tap began
  int last_x_ = 0;                  // the pointer after the last motion seen
  int last_y_ = 0;
};

}  // namespace kestrum::computer::x11
