#include "sim/sim_desktop.h"

#include "desktop/lookups.h"
#include "sim/posted.h"

namespace kestrum::computer::sim {
namespace {

RunningApp running_app(const SceneApp& app) {
  return RunningApp{app.pid, app.id, app.name, app.bundle, app.policy};
}

std::optional<RunningApp> app_with_pid(const Scene& scene, std::int64_t pid) {
  for (const SceneApp& app : scene.apps) {
    if (app.pid == pid) return running_app(app);
  }
  return std::nullopt;
}

bool contains(const SceneWindow& window, double x, double y) {
  return window.x <= x && x < window.x + window.width && window.y <= y &&
         y < window.y + window.height;
}

class SimRunLoopSource final : public RunLoopSource {};

class SimEventTap final : public EventTap {
 public:
  explicit SimEventTap(SimDesktop& desktop) : desktop_(desktop) {}
  std::unique_ptr<RunLoopSource> create_run_loop_source() override {
    if (!desktop_.scene().run_loop_source) return nullptr;
    return std::make_unique<SimRunLoopSource>();
  }
  void enable() override { desktop_.enable_tap(); }

 private:
  SimDesktop& desktop_;
};

class SimRunLoop final : public RunLoop {
 public:
  explicit SimRunLoop(TapChannel& channel) : channel_(channel) {}
  void add_source(RunLoopSource&) override { channel_.attach(); }

 private:
  TapChannel& channel_;
};

}  // namespace

Scene SimDesktop::scene() const {
  auto scene = load_scene(path_, posts_.load());
  if (!scene) scene_fault(scene.error());
  return std::move(*scene);
}

bool SimDesktop::accessibility_trusted() { return scene().input_permission; }
bool SimDesktop::screen_capture_allowed() { return scene().capture_permission; }

void SimDesktop::append_prompt(std::string_view word) {
  if (const auto prompts = scene().prompts) append_line(*prompts, std::string(word) + "\n");
}

void SimDesktop::prompt_accessibility() { append_prompt("accessibility"); }
void SimDesktop::prompt_screen_capture() { append_prompt("screen"); }

std::uint32_t SimDesktop::main_display_id() { return scene().display.id; }

DisplayBounds SimDesktop::display_bounds(std::uint32_t display) {
  const SceneDisplay d = scene().display;
  if (display != d.id) return {};
  return {d.x, d.y, d.width, d.height};
}

std::uint64_t SimDesktop::display_mode_pixel_width(std::uint32_t display) {
  const SceneDisplay d = scene().display;
  if (display != d.id) return 0;
  return d.pixel_width.value_or(saturating_round(d.width));
}

std::optional<RunningApp> SimDesktop::frontmost_application() {
  const Scene s = scene();
  if (!s.front) return std::nullopt;
  return app_with_pid(s, *s.front);
}

std::vector<RunningApp> SimDesktop::running_applications() {
  std::vector<RunningApp> apps;
  for (const SceneApp& app : scene().apps) apps.push_back(running_app(app));
  return apps;
}

std::optional<RunningApp> SimDesktop::running_application(std::int64_t pid) {
  return app_with_pid(scene(), pid);
}

ElementAtPoint SimDesktop::process_at_point(float x, float y) {
  const Scene s = scene();
  if (!s.accessibility) return NoAccessibilityService{};
  for (const SceneWindow& window : s.windows) {
    if (contains(window, x, y)) return ElementProcess{window.pid};
  }
  return NoElement{};
}

bool SimDesktop::secure_event_input_enabled() { return scene().secure_input; }

bool SimDesktop::post_event(const SyntheticEvent& event) {
  const std::lock_guard<std::mutex> hold(post_lock_);
  const Scene s = scene();
  if (s.fail_after && created_ >= *s.fail_after) return false;
  ++created_;
  if (s.posted) append_line(*s.posted, posted_line(event));
  posts_.fetch_add(1);
  // The system shows posted events to session taps too, tag and all.
  channel_.push(PersonEvent{posted_type(event), 0, 0, kEventTag});
  return true;
}

std::unique_ptr<EventTap> SimDesktop::create_event_tap(std::uint64_t mask, TapHandler& handler) {
  if (!scene().tap) return nullptr;
  channel_.create_tap(handler, mask);
  return std::make_unique<SimEventTap>(*this);
}

std::unique_ptr<RunLoop> SimDesktop::current_run_loop() {
  if (!scene().run_loop) return nullptr;
  return std::make_unique<SimRunLoop>(channel_);
}

void SimDesktop::run_current_run_loop() {
  if (const auto input = scene().input) start_input_reader(*input, channel_);
  channel_.run();
}

void SimDesktop::enable_tap() {
  channel_.enable();
  if (const auto posted = scene().posted) append_line(*posted, kTapEnabledLine);
}

std::string SimDesktop::open_program() { return scene().open; }

}  // namespace kestrum::computer::sim
