// The desktop as the server sees it: primitive queries and actions only.
// Every decision (records, checks, conversions, event sequences) is made by
// portable code on top of this interface; an implementation only calls the
// system and translates its types at this edge. The macOS shell implements
// it with CoreGraphics, ApplicationServices, AppKit and ScreenCaptureKit;
// the simulated desktop implements it from a scene file for other builds.
//
// Threads: queries, posting and the capture calls come from the serve-loop
// thread; the tap, the run loop and the prompts from the main thread.
// Implementations must tolerate both at once. Capture completion handlers
// may run on any thread, any number of times (including never).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrum::computer {

// A display rectangle in points, in the global display space.
struct DisplayBounds {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// One running application as the system reports it, untouched.
struct RunningApp {
  std::int64_t pid = 0;
  std::optional<std::string> bundle_identifier;  // UTF-8
  std::optional<std::string> localized_name;     // UTF-8
  // The last path component of the bundle URL; absent when there is no
  // bundle URL or the URL has no last component.
  std::optional<std::string> bundle_file_name;
  std::int64_t activation_policy = 0;  // 0 is the regular policy
};

// What the accessibility lookup finds at a point.
struct NoAccessibilityService {};  // the system-wide element could not be made
struct NoElement {};               // the lookup failed or found nothing, or the pid was unreadable
struct ElementProcess {
  std::int64_t pid = 0;
};
using ElementAtPoint = std::variant<NoAccessibilityService, NoElement, ElementProcess>;

// Event types by their CoreGraphics numbers.
namespace event_type {
inline constexpr std::uint32_t kLeftMouseDown = 1;
inline constexpr std::uint32_t kLeftMouseUp = 2;
inline constexpr std::uint32_t kRightMouseDown = 3;
inline constexpr std::uint32_t kRightMouseUp = 4;
inline constexpr std::uint32_t kMouseMoved = 5;
inline constexpr std::uint32_t kLeftMouseDragged = 6;
inline constexpr std::uint32_t kRightMouseDragged = 7;
inline constexpr std::uint32_t kKeyDown = 10;
inline constexpr std::uint32_t kKeyUp = 11;
inline constexpr std::uint32_t kScrollWheel = 22;
inline constexpr std::uint32_t kOtherMouseDown = 25;
inline constexpr std::uint32_t kOtherMouseUp = 26;
inline constexpr std::uint32_t kOtherMouseDragged = 27;
inline constexpr std::uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;
}  // namespace event_type

// The events the listen-only tap asks for: types 1, 3, 5, 6, 7, 10, 22, 25
// and 27.
inline constexpr std::uint64_t kTapEventMask = 0xA4004EA;

// The value every posted event carries in kCGEventSourceUserData: 'KSTM'.
inline constexpr std::int64_t kEventTag = 1263752269;

// One event to create and post, described plainly. The implementation sets
// the tag on every event it posts and posts at the HID level.
struct MouseEventParams {
  std::uint32_t type = event_type::kMouseMoved;
  double x = 0;
  double y = 0;
  std::uint32_t button = 0;                 // 0 left, 1 right, 2 middle
  std::optional<std::int64_t> click_state;  // kCGMouseEventClickState, when set
};
struct KeyEventParams {
  std::uint16_t keycode = 0;
  bool down = true;
  std::optional<std::uint64_t> flags;  // CGEventSetFlags, when set
  std::optional<std::u16string> text;  // CGEventKeyboardSetUnicodeString, when set
};
struct ScrollEventParams {
  std::uint32_t units = 1;  // kCGScrollEventUnitLine
  std::uint32_t wheel_count = 2;
  std::int32_t wheel1 = 0;
  std::int32_t wheel2 = 0;
  std::int32_t wheel3 = 0;
};
using SyntheticEvent = std::variant<MouseEventParams, KeyEventParams, ScrollEventParams>;

// The integer fields the tap callback reads.
enum class EventField : std::uint32_t {
  kMouseDeltaX = 4,
  kMouseDeltaY = 5,
  kSourceUserData = 42,
};

// One event as the tap delivers it; valid only during the callback.
class TapEvent {
 public:
  virtual std::int64_t integer_field(EventField field) const = 0;

 protected:
  ~TapEvent() = default;
};

// An event whose fields are known values: what the shells without a system
// event object to read from (the simulated desktop, X11) deliver.
class PlainTapEvent final : public TapEvent {
 public:
  PlainTapEvent(std::int64_t tag, std::int64_t dx, std::int64_t dy) : tag_(tag), dx_(dx), dy_(dy) {}
  std::int64_t integer_field(EventField field) const override {
    switch (field) {
      case EventField::kMouseDeltaX:
        return dx_;
      case EventField::kMouseDeltaY:
        return dy_;
      case EventField::kSourceUserData:
        return tag_;
    }
    return 0;
  }

 private:
  std::int64_t tag_, dx_, dy_;
};

// Receives the tap's events on the thread that runs the main run loop. The
// tap is listen-only: whatever the handler does, the event goes on.
class TapHandler {
 public:
  virtual void on_event(std::uint32_t type, const TapEvent& event) = 0;

 protected:
  ~TapHandler() = default;
};

// Owners of the run-loop objects; each releases its object when it ends.
class RunLoopSource {
 public:
  virtual ~RunLoopSource() = default;
};

class EventTap {
 public:
  virtual ~EventTap() = default;
  // CFMachPortCreateRunLoopSource with order 0; null when none is made.
  virtual std::unique_ptr<RunLoopSource> create_run_loop_source() = 0;
  // CGEventTapEnable(port, true).
  virtual void enable() = 0;
};

class RunLoop {
 public:
  virtual ~RunLoop() = default;
  // CFRunLoopAddSource in the common modes.
  virtual void add_source(RunLoopSource& source) = 0;
};

// Screen capture. What the system's shareable content lists, in its order.
struct ShareableApplication {
  std::string bundle_identifier;
  std::int64_t pid = 0;
};

class ShareableContent {
 public:
  virtual ~ShareableContent() = default;
  // `displayID` of each of `displays`.
  virtual std::vector<std::uint32_t> display_ids() const = 0;
  // `bundleIdentifier` and `processID` of each of `applications`.
  virtual std::vector<ShareableApplication> applications() const = 0;
};

// A captured image; valid only during the completion handler.
class CapturedImage {
 public:
  virtual std::uint64_t width() const = 0;
  virtual std::uint64_t height() const = 0;
  virtual std::uint64_t bytes_per_row() const = 0;
  virtual std::uint64_t bits_per_pixel() const = 0;
  // A copy of the data provider's bytes (empty when the data has no byte
  // pointer); absent when there is no provider or it gives no data.
  virtual std::optional<std::vector<std::uint8_t>> copy_data() const = 0;

 protected:
  ~CapturedImage() = default;
};

// Completion handlers get the value or null, and the error's
// localizedDescription when an error object came.
using ContentHandler = std::function<void(std::shared_ptr<const ShareableContent> content,
                                          std::optional<std::string> error)>;
using ImageHandler =
    std::function<void(const CapturedImage* image, std::optional<std::string> error)>;

// The screenshot to take: a filter of one display of the content with the
// listed applications (indexes into `applications()`, in that order) and no
// excepted windows; a configuration of this pixel size showing the cursor.
struct ScreenshotParams {
  std::size_t display_index = 0;
  std::vector<std::size_t> application_indexes;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // AXIsProcessTrusted and CGPreflightScreenCaptureAccess.
  virtual bool accessibility_trusted() = 0;
  virtual bool screen_capture_allowed() = 0;
  // AXIsProcessTrustedWithOptions with the prompt option, and
  // CGRequestScreenCaptureAccess; neither waits for the person.
  virtual void prompt_accessibility() = 0;
  virtual void prompt_screen_capture() = 0;

  virtual std::uint32_t main_display_id() = 0;
  virtual DisplayBounds display_bounds(std::uint32_t display) = 0;
  // CGDisplayModeGetPixelWidth of the current mode; 0 when there is none.
  virtual std::uint64_t display_mode_pixel_width(std::uint32_t display) = 0;

  virtual std::optional<RunningApp> frontmost_application() = 0;
  virtual std::vector<RunningApp> running_applications() = 0;
  // runningApplicationWithProcessIdentifier:
  virtual std::optional<RunningApp> running_application(std::int64_t pid) = 0;
  // The process owning the accessibility element at a point; the
  // coordinates are already the 32-bit floats the system call takes.
  virtual ElementAtPoint process_at_point(float x, float y) = 0;
  // IsSecureEventInputEnabled.
  virtual bool secure_event_input_enabled() = 0;

  // Creates, tags and posts one event; false when the creation call gave
  // nothing (then nothing was posted).
  virtual bool post_event(const SyntheticEvent& event) = 0;

  // CGEventTapCreate: session tap, head insert, listen-only, for `mask`;
  // null when the tap cannot be created. `handler` must outlive the tap.
  virtual std::unique_ptr<EventTap> create_event_tap(std::uint64_t mask, TapHandler& handler) = 0;
  // CFRunLoopGetCurrent (retained); null when there is none.
  virtual std::unique_ptr<RunLoop> current_run_loop() = 0;
  // CFRunLoopRun on the calling thread; returns only if the run loop ends.
  virtual void run_current_run_loop() = 0;

  // getShareableContentWithCompletionHandler:
  virtual void get_shareable_content(ContentHandler handler) = 0;
  // captureImageWithFilter:configuration:completionHandler: for `content`,
  // which this same desktop delivered.
  virtual void capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                             ImageHandler handler) = 0;

  // The program run with "-b" and an identifier to open an application.
  virtual std::string open_program() = 0;
};

// The desktop of this build: the real one on macOS; elsewhere the simulated
// desktop named by KESTRUM_DESKTOP_SCENE, else the system's desktop, or
// none at all.
std::unique_ptr<Desktop> make_platform_desktop();

// The real desktop of a build other than Apple's when one is reachable (the
// X server that DISPLAY names, in builds with the X11 backend); null
// otherwise.
std::unique_ptr<Desktop> make_system_desktop();

}  // namespace kestrum::computer
