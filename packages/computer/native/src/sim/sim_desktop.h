// The simulated desktop: answers the primitive queries from a scene file,
// read afresh at every query, and records what the server posts. A stand-in
// for the system, not a second implementation of the server's logic.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "desktop/desktop.h"
#include "sim/scene.h"
#include "sim/tap_channel.h"

namespace kestrum::computer::sim {

class SimDesktop final : public Desktop {
 public:
  explicit SimDesktop(std::string scene_path) : path_(std::move(scene_path)) {}

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
  bool post_event(const SyntheticEvent& event) override;
  std::unique_ptr<EventTap> create_event_tap(std::uint64_t mask, TapHandler& handler) override;
  std::unique_ptr<RunLoop> current_run_loop() override;
  void run_current_run_loop() override;
  void get_shareable_content(ContentHandler handler) override;
  void capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                     ImageHandler handler) override;
  std::string open_program() override;

  // The scene as it stands now; a scene fault when it cannot be read.
  Scene scene() const;
  // Re-enabling the tap, as the tap's owner asks for it.
  void enable_tap();

 private:
  void append_prompt(std::string_view word);

  const std::string path_;
  std::atomic<std::uint64_t> posts_{0};
  std::mutex post_lock_;       // one post at a time, so the counts stay exact
  std::uint64_t created_ = 0;  // guarded by post_lock_
  TapChannel channel_;
};

// The desktop of a build without one: nothing is allowed, nothing runs, and
// the event tap cannot be made.
class NoDesktop final : public Desktop {
 public:
  bool accessibility_trusted() override { return false; }
  bool screen_capture_allowed() override { return false; }
  void prompt_accessibility() override {}
  void prompt_screen_capture() override {}
  std::uint32_t main_display_id() override { return 0; }
  DisplayBounds display_bounds(std::uint32_t) override { return {}; }
  std::uint64_t display_mode_pixel_width(std::uint32_t) override { return 0; }
  std::optional<RunningApp> frontmost_application() override { return std::nullopt; }
  std::vector<RunningApp> running_applications() override { return {}; }
  std::optional<RunningApp> running_application(std::int64_t) override { return std::nullopt; }
  ElementAtPoint process_at_point(float, float) override { return NoAccessibilityService{}; }
  bool secure_event_input_enabled() override { return false; }
  bool post_event(const SyntheticEvent&) override { return false; }
  std::unique_ptr<EventTap> create_event_tap(std::uint64_t, TapHandler&) override {
    return nullptr;
  }
  std::unique_ptr<RunLoop> current_run_loop() override { return nullptr; }
  void run_current_run_loop() override {}
  void get_shareable_content(ContentHandler handler) override;
  void capture_image(const ShareableContent&, const ScreenshotParams&,
                     ImageHandler handler) override;
  std::string open_program() override { return "/usr/bin/open"; }
};

}  // namespace kestrum::computer::sim
