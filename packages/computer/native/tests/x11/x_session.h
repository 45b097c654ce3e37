// A real X session for the X11 tests: Xvfb on a free display (1280x800 at
// depth 24 unless asked otherwise), openbox as the window manager, and the clients the tests
// start. DISPLAY is set for this process, so every child reaches it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testing/child.h"
#include "x11/connection.h"

namespace kestrum::computer::testing {

// Why the tests cannot run here (no Xvfb, openbox or xterm); empty when they can.
std::string missing_x_programs();

class XSession {
 public:
  // Throws std::runtime_error when a program does not start in time.
  explicit XSession(const std::string& screen = "1280x800x24");
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  const std::string& name() const { return name_; }  // ":N"
  Display* display() { return display_.get(); }      // the tests' own connection

  // Starts a client that ends with the session.
  void start(const std::vector<std::string>& argv);
  // The managed, viewable client window whose WM_CLASS class is `wm_class`;
  // throws after ten seconds without one.
  Window wait_for_window(const std::string& wm_class);
  // A client window's area in root coordinates.
  x11::Rect rect(Window window);
  // Raises a client window and waits until the window manager has.
  void raise(Window window);

 private:
  std::vector<std::unique_ptr<kestrum::testing::Child>> children_;  // Xvfb first
  std::string name_;
  x11::DisplayPtr display_;
};

}  // namespace kestrum::computer::testing
