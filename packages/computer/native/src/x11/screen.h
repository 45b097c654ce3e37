// The main display on X: the primary RandR output's rectangle in root
// coordinates (points are pixels), or the root window without one.
#pragma once

#include <cstdint>

#include "x11/connection.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

struct MainDisplay {
  std::uint32_t id = 0;  // the RandR output; 0 stands for the root window
  Rect rect;
};

MainDisplay main_display(Display* display);

}  // namespace kestrum::computer::x11
