#include "main/permissions.h"

#include "json/writer.h"
#include "serve/reply_fields.h"

namespace kestrum::computer {

std::string permission_report(Desktop& desktop) {
  json::Object report;
  report["permissions"] = permissions_object(desktop);
  report["platform"] = kPlatform;
  return json::to_json(report) + "\n";
}

void request_permission(Desktop& desktop, Permission permission) {
  switch (permission) {
    case Permission::kAccessibility:
      desktop.prompt_accessibility();
      break;
    case Permission::kScreen:
      desktop.prompt_screen_capture();
      break;
  }
}

}  // namespace kestrum::computer
