// One connection to the X server and the small helpers every X11 file
// uses: scoped holders for what Xlib hands out, the atoms the backend
// reads, and typed property reads. Each connection is used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "x11/xlib.h"

namespace kestrum::computer::x11 {

struct CloseDisplay {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, CloseDisplay>;

// Memory Xlib allocated and XFree releases.
struct FreeX {
  void operator()(void* memory) const {
    if (memory) XFree(memory);
  }
};
template <class T>
using XPtr = std::unique_ptr<T, FreeX>;

// Opens the display named by DISPLAY; null when there is none or it cannot
// be reached. The first call makes Xlib thread-aware and replaces its
// error handlers: a request on a window that vanished meanwhile is an
// ordinary outcome here (the call's result says so), not the end of the
// process, while a lost connection ends the process with an error line.
DisplayPtr open_display();

struct Atoms {
  explicit Atoms(Display* display);
  Atom client_list_stacking;
  Atom client_list;
  Atom active_window;
  Atom wm_pid;
  Atom wm_window_type;
  Atom type_dock;
  Atom type_desktop;
  Atom wm_state;
};

// A 32-bit property of `type` as longs (Xlib's format-32 representation);
// empty when the window has none or it has another type.
std::vector<unsigned long> long_property(Display* display, Window window, Atom property, Atom type);

// The process identifier in _NET_WM_PID; absent when unset.
std::optional<std::int64_t> window_pid(Display* display, const Atoms& atoms, Window window);

// The class part of WM_CLASS; absent when unset.
std::optional<std::string> window_class(Display* display, Window window);

// The window's children, bottom to top; empty when it has vanished.
std::vector<Window> children(Display* display, Window window);

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool contains(int px, int py) const {
    return px >= x && py >= y && px - x < width && py - y < height;
  }
};

// The window's rectangle in root coordinates and whether it is viewable;
// absent when it has vanished.
struct Placement {
  Rect rect;
  bool viewable = false;
};
std::optional<Placement> placement(Display* display, Window window);

}  // namespace kestrum::computer::x11
