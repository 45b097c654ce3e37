// Builds without the real desktop choose the simulated one when a scene is
// named, and otherwise have none.
#include <cstdlib>

#include "desktop/desktop.h"
#include "sim/sim_desktop.h"

namespace kestrum::computer {

std::unique_ptr<Desktop> make_platform_desktop() {
  const char* scene = std::getenv("KESTRUM_DESKTOP_SCENE");
  if (scene && *scene) return std::make_unique<sim::SimDesktop>(scene);
  return std::make_unique<sim::NoDesktop>();
}

}  // namespace kestrum::computer
