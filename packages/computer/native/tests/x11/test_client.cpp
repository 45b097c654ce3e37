// kestrum-x11-test-client: one plain window that logs the input it receives,
// for the X11 tests.
//   kestrum-x11-test-client CLASS RRGGBB WxH+X+Y LOG [no-pid]
// The window has WM_CLASS class CLASS, the background colour, the asked-for
// place (USPosition, which window managers honour) and _NET_WM_PID unless
// "no-pid" is given. Each event is appended to LOG as a line:
//   mapped                      the window is on screen
//   press B X Y / release B X Y a button, in window coordinates
//   drag X Y                    motion with the first button held
//   key NAME MODS               a key press: its keysym name, then the
//                               modifiers held (shift control mod1 mod4, or -)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int log_fd = -1;

void log_line(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(log_fd, text.data(), text.size()) < 0) std::exit(3);
}

std::string modifiers(unsigned int state) {
  const std::pair<unsigned int, const char*> names[] = {
      {ShiftMask, "shift"}, {ControlMask, "control"}, {Mod1Mask, "mod1"}, {Mod4Mask, "mod4"}};
  std::string out;
  for (const auto& [mask, name] : names) {
    if ((state & mask) == 0) continue;
    if (!out.empty()) out += "+";
    out += name;
  }
  return out.empty() ? "-" : out;
}

std::string xy(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

void log_event(Display* display, XEvent& event) {
  switch (event.type) {
    case MapNotify:
      log_line("mapped");
      break;
    case ButtonPress:
      log_line("press " + std::to_string(event.xbutton.button) + " " +
               xy(event.xbutton.x, event.xbutton.y));
      break;
    case ButtonRelease:
      log_line("release " + std::to_string(event.xbutton.button) + " " +
               xy(event.xbutton.x, event.xbutton.y));
      break;
    case MotionNotify:
      if (event.xmotion.state & Button1Mask)
        log_line("drag " + xy(event.xmotion.x, event.xmotion.y));
      break;
    case KeyPress: {
      KeySym keysym = NoSymbol;
      char text[32];
      XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
      const char* name = XKeysymToString(keysym);
      log_line(std::string("key ") + (name ? name : "?") + " " + modifiers(event.xkey.state));
      break;
    }
    case MappingNotify:
      XRefreshKeyboardMapping(&event.xmapping);
      break;
    default:
      break;
  }
  (void)display;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: kestrum-x11-test-client CLASS RRGGBB WxH+X+Y LOG [no-pid]\n", stderr);
    return 2;
  }
  log_fd = ::open(argv[4], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  Display* display = XOpenDisplay(nullptr);
  if (log_fd < 0 || !display) return 1;
  int x = 0, y = 0;
  unsigned int width = 100, height = 100;
  XParseGeometry(argv[3], &x, &y, &width, &height);
  const unsigned long color = std::strtoul(argv[2], nullptr, 16);
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), x, y, width, height, 0, 0, color);
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = x;
  hints.y = y;
  hints.width = static_cast<int>(width);
  hints.height = static_cast<int>(height);
  XSetWMNormalHints(display, window, &hints);
  XClassHint klass{argv[1], argv[1]};
  XSetClassHint(display, window, &klass);
  XStoreName(display, window, argv[1]);
  if (argc < 6 || std::string(argv[5]) != "no-pid") {
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  }
  XSelectInput(
      display, window,
      ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask | StructureNotifyMask);
  XMapWindow(display, window);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    log_event(display, event);
  }
}
