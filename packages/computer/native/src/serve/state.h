// The state the serve loop and the event tap share for the life of the
// process. Of its locks (control, output, and the tap holder's) no thread
// ever holds two at once, so there is no lock order.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "desktop/desktop.h"
#include "desktop/lookups.h"
#include "serve/message.h"
#include "serve/request.h"

namespace kestrum::computer {

struct ControlState {
  // Byte-wise ordered, as std::string compares.
  std::set<std::string> granted;
  double motion_total = 0;
  Party owner = Party::kAgent;
};

struct ServerState {
  ServerState(Desktop& desktop_in, OwnIdentity own_in, int output_fd)
      : desktop(desktop_in), own(std::move(own_in)), output(output_fd) {}

  Desktop& desktop;
  const OwnIdentity own;

  // Taken only for a few steps of arithmetic or a copy; never while a
  // service is called or a message is written.
  std::mutex control_lock;
  ControlState control;  // guarded by control_lock

  MessageOutput output;  // carries the output lock
};

}  // namespace kestrum::computer
