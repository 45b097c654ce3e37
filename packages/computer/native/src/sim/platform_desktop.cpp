// Builds other than Apple's choose the simulated desktop when a scene is
// named, else the system's desktop when one is reachable, and otherwise
// have none.
#include <cstdlib>

#include "desktop/desktop.h"
#include "sim/sim_desktop.h"

namespace kestrum::computer {

std::unique_ptr<Desktop> make_platform_desktop() {
  const char* scene = std::getenv("KESTRUM_DESKTOP_SCENE");
  if (scene && *scene) return std::make_unique<sim::SimDesktop>(scene);
  if (auto system = make_system_desktop()) return system;
  return std::make_unique<sim::NoDesktop>();
}

}  // namespace kestrum::computer
