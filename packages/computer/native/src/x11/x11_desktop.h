// The desktop on an X11 server: the primitive queries and actions of the
// desktop interface, answered from the window manager's properties, RandR,
// XTest, XInput2 and Composite. Translates and calls; every decision above
// the primitives is the portable code's.
//
// Two connections: one for the serve loop's queries, posting and capture
// (used under a lock, so the main thread may ask too), and the tap's own,
// read by the thread that runs the run loop.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "desktop/desktop.h"
#include "x11/capture.h"
#include "x11/connection.h"
#include "x11/desktop_entry.h"
#include "x11/input_poster.h"
#include "x11/own_events.h"
#include "x11/screen.h"
#include "x11/tap_loop.h"
#include "x11/window_cache.h"

namespace kestrum::computer::x11 {

class X11Desktop final : public Desktop {
 public:
  // Null when DISPLAY names no reachable server. `open_program` is the
  // program that starts desktop entries.
  static std::unique_ptr<X11Desktop> open(std::string open_program);

  // No permission is asked for on X: both are granted and the prompts do
  // nothing.
  bool accessibility_trusted() override { return true; }
  bool screen_capture_allowed() override { return true; }
  void prompt_accessibility() override {}
  void prompt_screen_capture() override {}

  std::uint32_t main_display_id() override;
  DisplayBounds display_bounds(std::uint32_t display) override;
  std::uint64_t display_mode_pixel_width(std::uint32_t display) override;
  std::optional<RunningApp> frontmost_application() override;
  std::vector<RunningApp> running_applications() override;
  std::optional<RunningApp> running_application(std::int64_t pid) override;
  ElementAtPoint process_at_point(float x, float y) override;
  bool secure_event_input_enabled() override;
  bool post_event(const SyntheticEvent& event) override;
  std::unique_ptr<EventTap> create_event_tap(std::uint64_t mask, TapHandler& handler) override;
  std::unique_ptr<RunLoop> current_run_loop() override;
  void run_current_run_loop() override;
  void get_shareable_content(ContentHandler handler) override;
  void capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                     ImageHandler handler) override;
  std::string open_program() override { return open_program_; }

  // Marks the tap's loop as the one the run loop runs.
  void attach_tap();

 private:
  X11Desktop(DisplayPtr display, std::string open_program);
  // With lock_ held: what the server announced since the last call (the
  // manager's lists or the screen changed), read without a round trip.
  void take_news();
  MainDisplay screen();  // the main display, remembered until it changes
  std::vector<RunningApp> apps();

  std::mutex lock_;  // the serve connection and what uses it
  DisplayPtr display_;
  Atoms atoms_;
  OwnEvents own_;
  InputPoster poster_;
  Capturer capturer_;
  const std::string open_program_;
  EntryCache entries_;                 // used under lock_
  WindowCache windows_;                // used under lock_
  std::optional<MainDisplay> screen_;  // guarded by lock_
  int randr_event_ = -1;               // RandR's first event, -1 without it

  std::mutex tap_lock_;
  std::unique_ptr<TapLoop> tap_;  // guarded by tap_lock_
  bool tap_attached_ = false;     // guarded by tap_lock_
};

// The program beside the server's own executable that starts desktop
// entries; absent when the executable's path cannot be read.
std::optional<std::string> open_program_beside_self();

}  // namespace kestrum::computer::x11
