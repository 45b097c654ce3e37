#include "desktop/lookups.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "base/utf8.h"

namespace kestrum::computer {
namespace {

constexpr std::string_view kAppSuffix = ".app";

bool is_own_pid(const OwnIdentity& own, std::int64_t pid) { return own.pid && *own.pid == pid; }

AppRecord system_window_record(std::int64_t pid, const OwnIdentity& own) {
  AppRecord record;
  record.name = std::string(kSystemWindowName);
  record.is_own = is_own_pid(own, pid);
  return record;
}

}  // namespace

ScreenRect screen_rect(Desktop& desktop) {
  const DisplayBounds bounds = desktop.display_bounds(desktop.main_display_id());
  return {bounds.x, bounds.y, bounds.width, bounds.height};
}

std::uint64_t saturating_round(double value) {
  const double rounded = std::round(value);
  if (!(rounded > 0)) return 0;
  // 2^64 is the first double beyond the range.
  if (rounded >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(rounded);
}

DisplayGeometry display_geometry(Desktop& desktop) {
  const std::uint32_t display = desktop.main_display_id();
  const DisplayBounds bounds = desktop.display_bounds(display);
  const std::uint64_t mode_width = desktop.display_mode_pixel_width(display);
  DisplayGeometry geometry;
  if (mode_width != 0 && bounds.width > 0)
    geometry.scale = static_cast<double>(mode_width) / bounds.width;
  geometry.pixel_width = saturating_round(bounds.width * geometry.scale);
  geometry.pixel_height = saturating_round(bounds.height * geometry.scale);
  return geometry;
}

std::optional<std::string> bundle_name(std::string_view file_name) {
  if (file_name.size() > 3 && file_name.ends_with(kAppSuffix)) {
    file_name.remove_suffix(kAppSuffix.size());
  }
  const std::string_view trimmed = trim_unicode_white_space(file_name, Overlong::kAccepted);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

AppRecord app_record(const RunningApp& app, const OwnIdentity& own) {
  AppRecord record;
  record.id = app.bundle_identifier.value_or("");
  record.name = app.localized_name.value_or(record.id);
  if (app.bundle_file_name) record.bundle_name = bundle_name(*app.bundle_file_name);
  record.is_own =
      is_own_pid(own, app.pid) || (!record.id.empty() && own.app && *own.app == record.id);
  return record;
}

std::optional<AppRecord> frontmost_app(Desktop& desktop, const OwnIdentity& own) {
  const std::optional<RunningApp> front = desktop.frontmost_application();
  if (!front) return std::nullopt;
  return app_record(*front, own);
}

float to_f32(double value) {
  // A double converts by rounding to nearest; beyond FLT_MAX plus half a
  // step the result is infinite. C++ leaves that case undefined, so it is
  // spelled out here.
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}

Result<AppAtPoint> app_at_point(Desktop& desktop, double x, double y, const OwnIdentity& own) {
  const ElementAtPoint element = desktop.process_at_point(to_f32(x), to_f32(y));
  if (std::holds_alternative<NoAccessibilityService>(element)) {
    return fail(std::string(kNoAccessibilityService));
  }
  if (std::holds_alternative<NoElement>(element)) return AppAtPoint(NoApp{});
  const std::int64_t pid = std::get<ElementProcess>(element).pid;
  if (const std::optional<RunningApp> app = desktop.running_application(pid)) {
    return AppAtPoint(app_record(*app, own));
  }
  return AppAtPoint(system_window_record(pid, own));
}

}  // namespace kestrum::computer
