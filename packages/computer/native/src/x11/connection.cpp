#include "x11/connection.h"

#include <mutex>

#include "desktop/program.h"

namespace kestrum::computer::x11 {
namespace {

// Windows of other clients come and go between two requests; a failed
// request shows in the result of the call that made it.
int ignore_error(Display*, XErrorEvent*) { return 0; }

[[noreturn]] int connection_lost(Display*) {
  exit_with_error("the connection to the X server was lost");
}

void prepare_xlib() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XSetErrorHandler(ignore_error);
    XSetIOErrorHandler(connection_lost);
  });
}

Atom intern(Display* display, const char* name) { return XInternAtom(display, name, False); }

}  // namespace

DisplayPtr open_display() {
  prepare_xlib();
  return DisplayPtr(XOpenDisplay(nullptr));
}

Atoms::Atoms(Display* display)
    : client_list_stacking(intern(display, "_NET_CLIENT_LIST_STACKING")),
      client_list(intern(display, "_NET_CLIENT_LIST")),
      active_window(intern(display, "_NET_ACTIVE_WINDOW")),
      wm_pid(intern(display, "_NET_WM_PID")),
      wm_window_type(intern(display, "_NET_WM_WINDOW_TYPE")),
      type_dock(intern(display, "_NET_WM_WINDOW_TYPE_DOCK")),
      type_desktop(intern(display, "_NET_WM_WINDOW_TYPE_DESKTOP")),
      wm_state(intern(display, "WM_STATE")) {}

std::vector<unsigned long> long_property(Display* display, Window window, Atom property,
                                         Atom type) {
  Atom actual_type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, window, property, 0, 1 << 16, False, type,
                                        &actual_type, &format, &count, &after, &raw);
  const XPtr<unsigned char> data(raw);
  if (status != Success || actual_type != type || format != 32 || !data) return {};
  const auto* values = reinterpret_cast<const unsigned long*>(data.get());
  return std::vector<unsigned long>(values, values + count);
}

std::optional<std::int64_t> window_pid(Display* display, const Atoms& atoms, Window window) {
  const auto values = long_property(display, window, atoms.wm_pid, XA_CARDINAL);
  if (values.empty()) return std::nullopt;
  return static_cast<std::int64_t>(values.front() & 0xFFFFFFFFul);
}

std::optional<std::string> window_class(Display* display, Window window) {
  XClassHint hint{};
  if (!XGetClassHint(display, window, &hint)) return std::nullopt;
  const XPtr<char> name(hint.res_name);
  const XPtr<char> klass(hint.res_class);
  if (!klass) return std::nullopt;
  return std::string(klass.get());
}

std::vector<Window> children(Display* display, Window window) {
  Window root = None;
  Window parent = None;
  Window* raw = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &raw, &count)) return {};
  const XPtr<Window> list(raw);
  if (!list) return {};
  return std::vector<Window>(list.get(), list.get() + count);
}

std::optional<Placement> placement(Display* display, Window window) {
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display, window, &attributes)) return std::nullopt;
  int x = 0;
  int y = 0;
  Window child = None;
  if (!XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child)) {
    return std::nullopt;
  }
  return Placement{{x, y, attributes.width, attributes.height}, attributes.map_state == IsViewable};
}

}  // namespace kestrum::computer::x11
