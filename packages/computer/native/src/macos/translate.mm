#include "macos/translate.h"

#include <utility>

namespace kestrum::computer::macos {

std::optional<std::string> utf8_text(NSString* text) {
  const char* bytes = text.UTF8String;
  if (!bytes) return std::nullopt;
  return std::string(bytes);
}

std::optional<std::string> error_text(NSError* error) {
  if (!error) return std::nullopt;
  // An error object came, so the caller gets a text even if the system
  // leaves its description out.
  return utf8_text(error.localizedDescription).value_or(std::string());
}

RunningApp running_app_record(NSRunningApplication* app) {
  RunningApp record;
  record.pid = pid_value(app.processIdentifier);
  record.bundle_identifier = utf8_text(app.bundleIdentifier);
  record.localized_name = utf8_text(app.localizedName);
  record.bundle_file_name = utf8_text(app.bundleURL.lastPathComponent);
  record.activation_policy = static_cast<std::int64_t>(app.activationPolicy);
  return record;
}

std::optional<pid_t> pid_from(std::int64_t pid) {
  if (!std::in_range<pid_t>(pid)) return std::nullopt;
  return static_cast<pid_t>(pid);
}

}  // namespace kestrum::computer::macos
