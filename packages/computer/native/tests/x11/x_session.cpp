#include "x11/x_session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace kestrum::computer::testing {
namespace {

using kestrum::testing::Child;
using kestrum::testing::ChildOptions;
using kestrum::testing::Pipe;
using Clock = std::chrono::steady_clock;

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kOpenbox = "/usr/bin/openbox";
constexpr auto kPatience = std::chrono::seconds(10);

// Xvfb writes the display number it chose, then a line feed.
std::string read_display_number(int fd) {
  std::string number;
  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    char c = 0;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return number;
    number += c;
  }
  throw std::runtime_error("Xvfb did not start");
}

// Through a shell that sends the program's output to /dev/null: nobody reads
// the pipes a child is given, and an X server that fills one (the keymap
// compiler's warnings do) stops serving.
std::vector<std::string> quietly(const std::vector<std::string>& argv) {
  std::vector<std::string> shell = {"/bin/sh", "-c", "exec \"$@\" >/dev/null 2>&1", "sh"};
  shell.insert(shell.end(), argv.begin(), argv.end());
  return shell;
}

template <class Ready>
void wait_until(const std::string& what, Ready ready) {
  const auto deadline = Clock::now() + kPatience;
  while (!ready()) {
    if (Clock::now() > deadline) throw std::runtime_error(what + " did not happen in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<Window> managed(Display* display, Atom list) {
  std::vector<Window> windows;
  for (unsigned long w : x11::long_property(display, DefaultRootWindow(display), list, XA_WINDOW))
    windows.push_back(w);
  return windows;
}

}  // namespace

std::string missing_x_programs() {
  for (const char* program : {kXvfb, kOpenbox, "/usr/bin/xterm"}) {
    if (::access(program, X_OK) != 0) return std::string(program) + " is not installed";
  }
  return "";
}

XSession::XSession(const std::string& screen) {
  Pipe number;
  ChildOptions xvfb;
  xvfb.argv = quietly({kXvfb, "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp"});
  xvfb.inherit = {{3, number.write_end.get()}};
  children_.push_back(std::make_unique<Child>(xvfb));
  number.write_end.reset();
  name_ = ":" + read_display_number(number.read_end.get());
  ::setenv("DISPLAY", name_.c_str(), 1);
  start({"/usr/bin/env", "-i", "DISPLAY=" + name_, "HOME=/tmp", kOpenbox, "--sm-disable"});
  display_ = x11::open_display();
  if (!display_) throw std::runtime_error("cannot connect to Xvfb on " + name_);
  const Atom check = XInternAtom(display(), "_NET_SUPPORTING_WM_CHECK", False);
  wait_until("openbox starting", [&] {
    return !x11::long_property(display(), DefaultRootWindow(display()), check, XA_WINDOW).empty();
  });
  // Openbox names itself before it handles requests, and a window mapped
  // in that gap stays unmanaged: a pause, then a window of its own that it
  // manages shows that it does.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const Window probe =
      XCreateSimpleWindow(display(), DefaultRootWindow(display()), 0, 0, 10, 10, 0, 0, 0);
  XMapWindow(display(), probe);
  XSync(display(), False);
  const Atom list = XInternAtom(display(), "_NET_CLIENT_LIST", False);
  wait_until("openbox managing windows", [&] {
    const auto windows = managed(display(), list);
    return std::find(windows.begin(), windows.end(), probe) != windows.end();
  });
  XDestroyWindow(display(), probe);
  XSync(display(), False);
}

// Clients first, the server last.
XSession::~XSession() {
  display_.reset();
  while (!children_.empty()) children_.pop_back();
}

void XSession::start(const std::vector<std::string>& argv) {
  ChildOptions options;
  options.argv = quietly(argv);
  children_.push_back(std::make_unique<Child>(options));
  // Nobody reads what the client writes; a full pipe must not stop it.
  children_.back()->close_input();
}

Window XSession::wait_for_window(const std::string& wm_class) {
  const Atom list = XInternAtom(display(), "_NET_CLIENT_LIST", False);
  Window found = None;
  wait_until("a window of class " + wm_class, [&] {
    for (Window window : managed(display(), list)) {
      const auto placed = x11::placement(display(), window);
      if (x11::window_class(display(), window) == wm_class && placed && placed->viewable) {
        found = window;
        return true;
      }
    }
    return false;
  });
  return found;
}

x11::Rect XSession::rect(Window window) {
  const auto placed = x11::placement(display(), window);
  if (!placed) throw std::runtime_error("the window is gone");
  return placed->rect;
}

void XSession::raise(Window window) {
  XRaiseWindow(display(), window);
  XSync(display(), False);
  const Atom list = XInternAtom(display(), "_NET_CLIENT_LIST_STACKING", False);
  wait_until("raising a window", [&] {
    const auto stack = managed(display(), list);
    return !stack.empty() && stack.back() == window;
  });
}

}  // namespace kestrum::computer::testing
