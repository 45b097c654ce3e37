#include "serve/reply_fields.h"

namespace kestrum::computer {

json::Object permissions_object(Desktop& desktop) {
  json::Object permissions;
  permissions["capture"] = desktop.screen_capture_allowed();
  permissions["input"] = desktop.accessibility_trusted();
  return permissions;
}

json::Object screen_object(const ScreenRect& rect) {
  json::Object screen;
  screen["x"] = rect.x;
  screen["y"] = rect.y;
  screen["width"] = rect.width;
  screen["height"] = rect.height;
  return screen;
}

}  // namespace kestrum::computer
