#include "x11/x11_desktop.h"

#include <cmath>
#include <cstdlib>

#include "x11/desktop_entry.h"
#include "x11/running_apps.h"
#include "x11/windows.h"

namespace kestrum::computer::x11 {
namespace {

// A point belongs to the pixel that contains it, for the lookup and the
// posting alike.
int pixel(float coordinate) {
  if (!(coordinate > -1e9f && coordinate < 1e9f)) return coordinate > 0 ? 1 << 30 : -(1 << 30);
  return static_cast<int>(std::floor(coordinate));
}

class Content final : public ShareableContent {
 public:
  Content(std::uint32_t display, std::vector<ShareableApplication> apps)
      : display_(display), apps_(std::move(apps)) {}
  std::vector<std::uint32_t> display_ids() const override { return {display_}; }
  std::vector<ShareableApplication> applications() const override { return apps_; }

 private:
  std::uint32_t display_;
  std::vector<ShareableApplication> apps_;
};

class CanvasImage final : public CapturedImage {
 public:
  explicit CanvasImage(const Canvas& canvas) : canvas_(canvas) {}
  std::uint64_t width() const override { return canvas_.width; }
  std::uint64_t height() const override { return canvas_.height; }
  std::uint64_t bytes_per_row() const override { return canvas_.width * 4; }
  std::uint64_t bits_per_pixel() const override { return 32; }
  std::optional<std::vector<std::uint8_t>> copy_data() const override { return canvas_.pixels; }

 private:
  const Canvas& canvas_;
};

class Source final : public RunLoopSource {};

class Tap final : public EventTap {
 public:
  std::unique_ptr<RunLoopSource> create_run_loop_source() override {
    return std::make_unique<Source>();
  }
  // X never switches raw events off.
  void enable() override {}
};

class MainRunLoop final : public RunLoop {
 public:
  explicit MainRunLoop(X11Desktop& desktop) : desktop_(desktop) {}
  void add_source(RunLoopSource&) override { desktop_.attach_tap(); }

 private:
  X11Desktop& desktop_;
};

std::vector<std::string> folders() {
  return entry_folders(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"),
                       std::getenv("XDG_DATA_DIRS"));
}

}  // namespace

std::unique_ptr<X11Desktop> X11Desktop::open(std::string open_program) {
  DisplayPtr display = open_display();
  if (!display) return nullptr;
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(display), std::move(open_program)));
}

X11Desktop::X11Desktop(DisplayPtr display, std::string open_program)
    : display_(std::move(display)),
      atoms_(display_.get()),
      poster_(display_.get(), own_),
      capturer_(display_.get()),
      open_program_(std::move(open_program)),
      entries_(folders()) {
  Display* d = display_.get();
  XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask | StructureNotifyMask);
  int error = 0;
  if (XRRQueryExtension(d, &randr_event_, &error)) {
    XRRSelectInput(d, DefaultRootWindow(d),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randr_event_ = -1;
  }
}

void X11Desktop::take_news() {
  Display* d = display_.get();
  while (XEventsQueued(d, QueuedAfterReading) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type == PropertyNotify && (event.xproperty.atom == atoms_.client_list ||
                                         event.xproperty.atom == atoms_.client_list_stacking)) {
      windows_.lists_changed();
    }
    const bool randr = randr_event_ >= 0 && (event.type == randr_event_ + RRScreenChangeNotify ||
                                             event.type == randr_event_ + RRNotify);
    if (randr) XRRUpdateConfiguration(&event);
    if (randr || event.type == ConfigureNotify) screen_.reset();
  }
}

MainDisplay X11Desktop::screen() {
  take_news();
  if (!screen_) screen_ = main_display(display_.get());
  return *screen_;
}

std::uint32_t X11Desktop::main_display_id() {
  const std::lock_guard<std::mutex> hold(lock_);
  return screen().id;
}

DisplayBounds X11Desktop::display_bounds(std::uint32_t display) {
  const std::lock_guard<std::mutex> hold(lock_);
  const MainDisplay main = screen();
  if (display != main.id) return {};
  return {static_cast<double>(main.rect.x), static_cast<double>(main.rect.y),
          static_cast<double>(main.rect.width), static_cast<double>(main.rect.height)};
}

std::uint64_t X11Desktop::display_mode_pixel_width(std::uint32_t display) {
  const DisplayBounds bounds = display_bounds(display);
  return static_cast<std::uint64_t>(bounds.width);
}

std::vector<RunningApp> X11Desktop::apps() {
  take_news();
  return running_apps(windows_.clients(display_.get(), atoms_, ListOrder::kMapping),
                      entries_.entries());
}

std::vector<RunningApp> X11Desktop::running_applications() {
  const std::lock_guard<std::mutex> hold(lock_);
  return apps();
}

std::optional<RunningApp> X11Desktop::running_application(std::int64_t pid) {
  const std::lock_guard<std::mutex> hold(lock_);
  for (RunningApp& app : apps()) {
    if (app.pid == pid) return std::move(app);
  }
  return std::nullopt;
}

std::optional<RunningApp> X11Desktop::frontmost_application() {
  std::optional<std::int64_t> pid;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto window = front_window(display_.get(), atoms_);
    if (window) pid = window_pid(display_.get(), atoms_, *window);
  }
  if (!pid) return std::nullopt;
  return running_application(*pid);
}

// A window without a pid belongs to no application: the system's.
ElementAtPoint X11Desktop::process_at_point(float x, float y) {
  constexpr std::int64_t kNoProcess = -1;
  const std::lock_guard<std::mutex> hold(lock_);
  take_news();
  const auto top = root_child_at(display_.get(), pixel(x), pixel(y));
  if (!top) return NoElement{};
  const Window client = windows_.client_in(display_.get(), atoms_, *top);
  return ElementProcess{windows_.pid_of(display_.get(), atoms_, client).value_or(kNoProcess)};
}

// Another client's active grab (a password prompt's) makes our own grab
// fail; ours, when it succeeds, is let go at once.
bool X11Desktop::secure_event_input_enabled() {
  const std::lock_guard<std::mutex> hold(lock_);
  Display* display = display_.get();
  const int grabbed = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                    GrabModeAsync, CurrentTime);
  if (grabbed == GrabSuccess) {
    XUngrabKeyboard(display, CurrentTime);
    XFlush(display);
    return false;
  }
  return grabbed == AlreadyGrabbed || grabbed == GrabFrozen;
}

bool X11Desktop::post_event(const SyntheticEvent& event) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (const auto* mouse = std::get_if<MouseEventParams>(&event)) {
    MouseEventParams at_pixel = *mouse;
    at_pixel.x = pixel(static_cast<float>(mouse->x));
    at_pixel.y = pixel(static_cast<float>(mouse->y));
    return poster_.post(at_pixel);
  }
  return poster_.post(event);
}

std::unique_ptr<EventTap> X11Desktop::create_event_tap(std::uint64_t mask, TapHandler& handler) {
  const std::lock_guard<std::mutex> hold(tap_lock_);
  tap_ = TapLoop::open(mask, handler, own_);
  if (!tap_) return nullptr;
  return std::make_unique<Tap>();
}

std::unique_ptr<RunLoop> X11Desktop::current_run_loop() {
  return std::make_unique<MainRunLoop>(*this);
}

void X11Desktop::attach_tap() {
  const std::lock_guard<std::mutex> hold(tap_lock_);
  tap_attached_ = tap_ != nullptr;
}

void X11Desktop::run_current_run_loop() {
  TapLoop* loop = nullptr;
  {
    const std::lock_guard<std::mutex> hold(tap_lock_);
    if (tap_attached_) loop = tap_.get();
  }
  // Like a run loop without sources, one without the tap returns at once.
  if (loop) loop->run();
}

void X11Desktop::get_shareable_content(ContentHandler handler) {
  std::vector<ShareableApplication> shareable;
  std::uint32_t display = 0;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    display = screen().id;
    for (const RunningApp& app : apps()) {
      if (app.bundle_identifier) shareable.push_back({*app.bundle_identifier, app.pid});
    }
  }
  handler(std::make_shared<const Content>(display, std::move(shareable)), std::nullopt);
}

void X11Desktop::capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                               ImageHandler handler) {
  const std::vector<ShareableApplication> shareable = content.applications();
  std::vector<std::int64_t> pids;
  for (std::size_t index : shot.application_indexes) pids.push_back(shareable.at(index).pid);
  Result<Canvas> canvas = fail(std::string());
  {
    const std::lock_guard<std::mutex> hold(lock_);
    take_news();
    std::vector<Window> windows;
    for (const ClientWindow& window :
         windows_.clients(display_.get(), atoms_, ListOrder::kStacking)) {
      if (window.pid && std::find(pids.begin(), pids.end(), *window.pid) != pids.end()) {
        windows.push_back(window.window);
      }
    }
    canvas = capturer_.capture(windows, screen().rect);
  }
  if (!canvas) {
    handler(nullptr, canvas.error());
    return;
  }
  const CanvasImage image(*canvas);
  handler(&image, std::nullopt);
}

}  // namespace kestrum::computer::x11
