// The real desktop: each member makes the system call the interface names
// and translates its result; nothing here decides anything. It keeps no
// state, so the serve-loop thread and the main thread may use it at once.
// Every CoreFoundation object it obtains has one ScopedCF owner; every
// Objective-C object is ARC's, inside an autorelease pool, because the
// serve-loop thread has no pool of its own and lives as long as the process.
#pragma once

#include "desktop/desktop.h"

namespace kestrum::computer::macos {

class MacDesktop final : public Desktop {
 public:
  // mac_desktop.mm
  bool accessibility_trusted() override;
  bool screen_capture_allowed() override;
  void prompt_accessibility() override;
  void prompt_screen_capture() override;
  std::uint32_t main_display_id() override;
  DisplayBounds display_bounds(std::uint32_t display) override;
  std::uint64_t display_mode_pixel_width(std::uint32_t display) override;
  std::optional<RunningApp> frontmost_application() override;
  std::vector<RunningApp> running_applications() override;
  std::optional<RunningApp> running_application(std::int64_t pid) override;
  ElementAtPoint process_at_point(float x, float y) override;
  bool secure_event_input_enabled() override;
  std::string open_program() override;

  // mac_input.mm
  bool post_event(const SyntheticEvent& event) override;

  // mac_tap.mm
  std::unique_ptr<EventTap> create_event_tap(std::uint64_t mask, TapHandler& handler) override;
  std::unique_ptr<RunLoop> current_run_loop() override;
  void run_current_run_loop() override;

  // mac_capture.mm
  void get_shareable_content(ContentHandler handler) override;
  void capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                     ImageHandler handler) override;
};

}  // namespace kestrum::computer::macos
