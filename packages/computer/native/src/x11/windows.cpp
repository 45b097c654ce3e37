#include "x11/windows.h"

#include <deque>

namespace kestrum::computer::x11 {
namespace {

bool has_wm_state(Display* display, const Atoms& atoms, Window window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, window, atoms.wm_state, 0, 0, False,
                                        AnyPropertyType, &type, &format, &count, &after, &raw);
  const XPtr<unsigned char> data(raw);
  return status == Success && type != None;
}

bool is_system_window(Display* display, const Atoms& atoms, Window window) {
  for (unsigned long type : long_property(display, window, atoms.wm_window_type, XA_ATOM)) {
    if (type == atoms.type_dock || type == atoms.type_desktop) return true;
  }
  return false;
}

// Without a window manager's list: what is on screen, bottom to top.
std::vector<Window> unmanaged_clients(Display* display, const Atoms& atoms) {
  std::vector<Window> clients;
  for (Window child : children(display, DefaultRootWindow(display))) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, child, &attributes)) continue;
    if (attributes.map_state != IsViewable || attributes.override_redirect) continue;
    if (attributes.c_class != InputOutput) continue;
    clients.push_back(client_of(display, atoms, child));
  }
  return clients;
}

}  // namespace

ClientWindow facts(Display* display, const Atoms& atoms, Window window) {
  return {window, window_pid(display, atoms, window), window_class(display, window).value_or(""),
          is_system_window(display, atoms, window)};
}

std::vector<Window> client_list(Display* display, const Atoms& atoms, ListOrder order,
                                bool& managed) {
  Atom list = atoms.client_list;
  switch (order) {
    case ListOrder::kMapping:
      break;
    case ListOrder::kStacking:
      list = atoms.client_list_stacking;
      break;
  }
  std::vector<Window> windows;
  for (unsigned long window : long_property(display, DefaultRootWindow(display), list, XA_WINDOW)) {
    windows.push_back(window);
  }
  managed = !windows.empty();
  if (!managed) windows = unmanaged_clients(display, atoms);
  return windows;
}

std::vector<ClientWindow> client_windows(Display* display, const Atoms& atoms, ListOrder order) {
  std::vector<ClientWindow> clients;
  bool managed = false;
  for (Window window : client_list(display, atoms, order, managed)) {
    clients.push_back(facts(display, atoms, window));
  }
  return clients;
}

Window client_of(Display* display, const Atoms& atoms, Window top) {
  std::deque<Window> queue{top};
  while (!queue.empty()) {
    const Window window = queue.front();
    queue.pop_front();
    if (has_wm_state(display, atoms, window)) return window;
    for (Window child : children(display, window)) queue.push_back(child);
  }
  return top;
}

// The server's own answer, in one round trip: the mapped child of the root
// whose area (border included) holds the point, topmost first.
std::optional<Window> root_child_at(Display* display, int x, int y) {
  const Window root = DefaultRootWindow(display);
  int child_x = 0;
  int child_y = 0;
  Window child = None;
  if (!XTranslateCoordinates(display, root, root, x, y, &child_x, &child_y, &child)) {
    return std::nullopt;
  }
  if (child == None) return std::nullopt;
  return child;
}

std::optional<Window> top_level_of(Display* display, Window window) {
  const Window root = DefaultRootWindow(display);
  for (;;) {
    Window found_root = None;
    Window parent = None;
    Window* raw = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &found_root, &parent, &raw, &count)) return std::nullopt;
    const XPtr<Window> list(raw);
    if (parent == root || parent == None) return window;
    window = parent;
  }
}

std::optional<Window> front_window(Display* display, const Atoms& atoms) {
  const Window root = DefaultRootWindow(display);
  const auto active = long_property(display, root, atoms.active_window, XA_WINDOW);
  if (!active.empty() && active.front() != None) return active.front();
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == root) return std::nullopt;
  const auto top = top_level_of(display, focus);
  if (!top) return std::nullopt;
  return client_of(display, atoms, *top);
}

}  // namespace kestrum::computer::x11
