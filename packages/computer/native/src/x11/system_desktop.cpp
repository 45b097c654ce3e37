// The real desktop of a Linux build: the X server that DISPLAY names.
#include <cstdlib>

#include "desktop/desktop.h"
#include "x11/x11_desktop.h"

namespace kestrum::computer {

std::unique_ptr<Desktop> make_system_desktop() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  const auto open_program = x11::open_program_beside_self();
  if (!open_program) return nullptr;
  return x11::X11Desktop::open(*open_program);
}

}  // namespace kestrum::computer
