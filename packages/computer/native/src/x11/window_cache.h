// What the backend remembers about client windows between requests, since
// every round trip to the server counts when each pointer event is checked:
// the window manager's lists until the server says they changed, a
// window's pid, class and type (set by its client before it is mapped), and
// which child of the root (the window manager's frame) holds it. Windows
// that leave the lists are forgotten. Used by one thread at a time.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "x11/connection.h"
#include "x11/windows.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

class WindowCache {
 public:
  // client_windows, with the facts of known windows remembered.
  std::vector<ClientWindow> clients(Display* display, const Atoms& atoms, ListOrder order);

  // The client window inside a child of the root: a listed client whose
  // top-level window it is, else client_of's answer.
  Window client_in(Display* display, const Atoms& atoms, Window top);

  // The window manager changed its lists (a PropertyNotify on the root).
  void lists_changed() { lists_.clear(); }

  // The pid of a client window, remembered like the other facts.
  std::optional<std::int64_t> pid_of(Display* display, const Atoms& atoms, Window window);

 private:
  void forget_all_but(const std::vector<ClientWindow>& listed);

  std::map<ListOrder, std::vector<Window>> lists_;  // only lists the manager keeps
  std::map<Window, ClientWindow> facts_;
  std::map<Window, Window> client_of_top_;
};

}  // namespace kestrum::computer::x11
