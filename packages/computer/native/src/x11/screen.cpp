#include "x11/screen.h"

#include <memory>

namespace kestrum::computer::x11 {
namespace {

struct FreeResources {
  void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct FreeOutput {
  void operator()(XRROutputInfo* output) const { XRRFreeOutputInfo(output); }
};
struct FreeCrtc {
  void operator()(XRRCrtcInfo* crtc) const { XRRFreeCrtcInfo(crtc); }
};

MainDisplay root_display(Display* display) {
  const int screen = DefaultScreen(display);
  return {0, {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)}};
}

}  // namespace

MainDisplay main_display(Display* display) {
  int event = 0, error = 0;
  if (!XRRQueryExtension(display, &event, &error)) return root_display(display);
  const Window root = DefaultRootWindow(display);
  const RROutput primary = XRRGetOutputPrimary(display, root);
  if (primary == None) return root_display(display);
  const std::unique_ptr<XRRScreenResources, FreeResources> resources(
      XRRGetScreenResourcesCurrent(display, root));
  if (!resources) return root_display(display);
  const std::unique_ptr<XRROutputInfo, FreeOutput> output(
      XRRGetOutputInfo(display, resources.get(), primary));
  if (!output || output->crtc == None) return root_display(display);
  const std::unique_ptr<XRRCrtcInfo, FreeCrtc> crtc(
      XRRGetCrtcInfo(display, resources.get(), output->crtc));
  if (!crtc) return root_display(display);
  return {static_cast<std::uint32_t>(primary),
          {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)}};
}

}  // namespace kestrum::computer::x11
