// An in-process desktop whose answers a test sets directly, and which
// records what it was asked to do.
#pragma once

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "desktop/desktop.h"
#include "desktop/listed_content.h"

namespace kestrum::computer::testing {

class FakeTap final : public EventTap {
 public:
  explicit FakeTap(int& enabled) : enabled_(enabled) {}
  std::unique_ptr<RunLoopSource> create_run_loop_source() override { return nullptr; }
  void enable() override { ++enabled_; }

 private:
  int& enabled_;
};

class FakeImage final : public CapturedImage {
 public:
  std::uint64_t image_width = 0;
  std::uint64_t image_height = 0;
  std::uint64_t row_bytes = 0;
  std::uint64_t bits = 32;
  std::optional<std::vector<std::uint8_t>> data;
  bool out_of_memory = false;  // copying the data throws std::bad_alloc

  std::uint64_t width() const override { return image_width; }
  std::uint64_t height() const override { return image_height; }
  std::uint64_t bytes_per_row() const override { return row_bytes; }
  std::uint64_t bits_per_pixel() const override { return bits; }
  std::optional<std::vector<std::uint8_t>> copy_data() const override {
    if (out_of_memory) throw std::bad_alloc();
    return data;
  }
};

class FakeDesktop final : public Desktop {
 public:
  bool input_permission = true;
  bool capture_permission = true;
  std::uint32_t display_id = 7;
  DisplayBounds bounds{0, 0, 1440, 900};
  std::uint64_t mode_width = 1440;
  std::optional<std::int64_t> front;
  std::vector<RunningApp> apps;
  ElementAtPoint element = NoElement{};
  bool secure_input = false;
  std::vector<std::pair<float, float>> looked_up;  // points asked for
  std::vector<std::string> prompts;                // in the order asked for
  std::vector<SyntheticEvent> posted;              // in posting order
  std::optional<std::size_t> fail_after;           // creations after this many fail
  // Nothing real runs unless a test names a program.
  std::string open = "/nonexistent/open";

  bool accessibility_trusted() override { return input_permission; }
  bool screen_capture_allowed() override { return capture_permission; }
  void prompt_accessibility() override { prompts.push_back("accessibility"); }
  void prompt_screen_capture() override { prompts.push_back("screen"); }
  std::uint32_t main_display_id() override { return display_id; }
  DisplayBounds display_bounds(std::uint32_t display) override {
    return display == display_id ? bounds : DisplayBounds{};
  }
  std::uint64_t display_mode_pixel_width(std::uint32_t display) override {
    return display == display_id ? mode_width : 0;
  }
  std::optional<RunningApp> frontmost_application() override {
    return front ? running_application(*front) : std::nullopt;
  }
  std::vector<RunningApp> running_applications() override { return apps; }
  std::optional<RunningApp> running_application(std::int64_t pid) override {
    for (const RunningApp& app : apps) {
      if (app.pid == pid) return app;
    }
    return std::nullopt;
  }
  ElementAtPoint process_at_point(float x, float y) override {
    looked_up.emplace_back(x, y);
    return element;
  }
  bool secure_event_input_enabled() override { return secure_input; }
  bool post_event(const SyntheticEvent& event) override {
    if (fail_after && posted.size() >= *fail_after) return false;
    posted.push_back(event);
    return true;
  }
  std::unique_ptr<EventTap> create_event_tap(std::uint64_t, TapHandler&) override {
    return nullptr;
  }
  std::unique_ptr<RunLoop> current_run_loop() override { return nullptr; }
  void run_current_run_loop() override {}

  // Capture. Unless a test replaces them, the answers come at once on the
  // calling thread: content listing the main display and every entry of
  // `apps`, and a tight 32-bit image of the asked size with all bytes 0.
  std::function<void(const ContentHandler&)> answer_content = [this](const ContentHandler& h) {
    h(default_content(), std::nullopt);
  };
  std::function<void(const ScreenshotParams&, const ImageHandler&)> answer_image =
      [](const ScreenshotParams& shot, const ImageHandler& h) {
        FakeImage image;
        image.image_width = shot.width;
        image.image_height = shot.height;
        image.row_bytes = shot.width * 4;
        image.data = std::vector<std::uint8_t>(shot.width * shot.height * 4, 0);
        h(&image, std::nullopt);
      };
  std::vector<ScreenshotParams> shots;  // screenshots asked for, in order

  std::shared_ptr<const ShareableContent> default_content() const {
    std::vector<ShareableApplication> listed;
    for (const RunningApp& app : apps)
      listed.push_back({app.bundle_identifier.value_or(""), app.pid});
    return std::make_shared<ListedContent>(std::vector<std::uint32_t>{display_id}, listed);
  }
  void get_shareable_content(ContentHandler handler) override { answer_content(handler); }
  void capture_image(const ShareableContent&, const ScreenshotParams& shot,
                     ImageHandler handler) override {
    shots.push_back(shot);
    answer_image(shot, handler);
  }
  std::string open_program() override { return open; }
};

}  // namespace kestrum::computer::testing
