// The small questions about the computer that the checks, "hello", the
// capture and the application list ask. Reports only what the desktop says;
// keeps no state and takes no lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "desktop/desktop.h"

namespace kestrum::computer {

// The main display in points; the scale is not part of it.
struct ScreenRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// The main display in pixels.
struct DisplayGeometry {
  std::uint64_t pixel_width = 0;
  std::uint64_t pixel_height = 0;
  double scale = 1;  // pixels per point
};

// Who the server is, from `--own-pid` and `--own-app`.
struct OwnIdentity {
  std::optional<std::int64_t> pid;
  std::optional<std::string> app;
};

struct AppRecord {
  std::string id;    // bundle identifier, "" when it has none
  std::string name;  // localized name, or a copy of `id`
  std::optional<std::string> bundle_name;
  bool is_own = false;
};

inline constexpr std::string_view kSystemWindowName = "a system window";
inline constexpr std::string_view kNoAccessibilityService =
    "the accessibility service is not available";

ScreenRect screen_rect(Desktop& desktop);
DisplayGeometry display_geometry(Desktop& desktop);

// The display's size for one side: rounded half away from zero, then
// saturated into the unsigned range (NaN and negatives give 0).
std::uint64_t saturating_round(double value);

// A bundle file name without a final ".app" (case-sensitive, only when
// something precedes it), trimmed of white space; absent when empty.
std::optional<std::string> bundle_name(std::string_view file_name);

AppRecord app_record(const RunningApp& app, const OwnIdentity& own);
std::optional<AppRecord> frontmost_app(Desktop& desktop, const OwnIdentity& own);

// A coordinate as the system's 32-bit float: nearest value, overflowing to
// infinity the way the hardware conversion does.
float to_f32(double value);

struct NoApp {};
using AppAtPoint = std::variant<NoApp, AppRecord>;
// Fails only with kNoAccessibilityService. Points outside every display go
// through the same lookup; judging them is the caller's business.
Result<AppAtPoint> app_at_point(Desktop& desktop, double x, double y, const OwnIdentity& own);

}  // namespace kestrum::computer
