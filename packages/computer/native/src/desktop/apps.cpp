#include "desktop/apps.h"

namespace kestrum::computer {
namespace {

constexpr std::int64_t kRegularPolicy = 0;

json::Object app_object(const AppRecord& record) {
  json::Object app;
  app["id"] = record.id;
  app["name"] = record.name;
  if (record.bundle_name) app["bundleName"] = *record.bundle_name;
  return app;
}

}  // namespace

std::vector<AppRecord> regular_apps(Desktop& desktop, const OwnIdentity& own) {
  std::vector<AppRecord> records;
  for (const RunningApp& app : desktop.running_applications()) {
    if (app.activation_policy != kRegularPolicy) continue;
    AppRecord record = app_record(app, own);
    if (record.id.empty()) continue;
    records.push_back(std::move(record));
  }
  return records;
}

json::Object list_apps(Desktop& desktop, const OwnIdentity& own) {
  json::Array apps;
  for (const AppRecord& record : regular_apps(desktop, own)) {
    if (!record.is_own) apps.push_back(app_object(record));
  }
  json::Object fields;
  fields["apps"] = std::move(apps);
  if (const auto front = frontmost_app(desktop, own)) {
    fields["front"] = front->id;
  } else {
    fields["front"] = nullptr;
  }
  return fields;
}

}  // namespace kestrum::computer
