// The window facts the backend reads: the client windows the window
// manager lists, what owns a point, and what holds the input focus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "x11/connection.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

struct ClientWindow {
  Window window = None;
  std::optional<std::int64_t> pid;  // _NET_WM_PID
  std::string wm_class;             // "" when unset
  bool system = false;              // a dock or desktop window
};

enum class ListOrder {
  kMapping,   // _NET_CLIENT_LIST: oldest first
  kStacking,  // _NET_CLIENT_LIST_STACKING: bottom to top
};

// The client windows the window manager lists, in the order asked for;
// without its lists, the viewable children of the root (bottom to top) and
// the client window inside each.
// `managed` tells which of the two it is.
std::vector<Window> client_list(Display* display, const Atoms& atoms, ListOrder order,
                                bool& managed);

// The facts of one client window.
ClientWindow facts(Display* display, const Atoms& atoms, Window window);

// The client windows in the order asked for. Without the window manager's
// lists, the viewable children of the root (bottom to top) and the client
// window inside each.
std::vector<ClientWindow> client_windows(Display* display, const Atoms& atoms, ListOrder order);

// The client window of a child of the root: itself when it has WM_STATE or
// no descendant has it, else the first descendant with WM_STATE.
Window client_of(Display* display, const Atoms& atoms, Window top);

// The topmost mapped child of the root that contains the point; absent
// over the bare root.
std::optional<Window> root_child_at(Display* display, int x, int y);

// The ancestor of `window` that is a child of the root (itself when it is
// one); absent when the window has vanished.
std::optional<Window> top_level_of(Display* display, Window window);

// The window the person works in: _NET_ACTIVE_WINDOW, else the input
// focus's client window; absent when neither names a window.
std::optional<Window> front_window(Display* display, const Atoms& atoms);

}  // namespace kestrum::computer::x11
