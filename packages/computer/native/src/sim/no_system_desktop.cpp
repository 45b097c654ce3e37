// Builds without a backend for the system's desktop (no X11 libraries)
// reach none.
#include "desktop/desktop.h"

namespace kestrum::computer {

std::unique_ptr<Desktop> make_system_desktop() { return nullptr; }

}  // namespace kestrum::computer
