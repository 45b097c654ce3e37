#include "x11/running_apps.h"

#include <algorithm>

namespace kestrum::computer::x11 {
namespace {

RunningApp app_of(const ClientWindow& first, const std::vector<DesktopEntry>& entries) {
  RunningApp app;
  app.pid = *first.pid;
  app.activation_policy = first.system ? kSystemPolicy : 0;
  if (first.wm_class.empty()) return app;
  app.bundle_identifier = first.wm_class;
  app.localized_name = first.wm_class;
  if (const DesktopEntry* entry = match_entry(entries, first.wm_class)) {
    app.localized_name = entry->name;
    // What stands for the bundle file: the portable record keeps it whole
    // unless it ends in ".app", which a file stem never needs to.
    app.bundle_file_name = entry->file_stem;
  }
  return app;
}

}  // namespace

std::vector<RunningApp> running_apps(const std::vector<ClientWindow>& windows,
                                     const std::vector<DesktopEntry>& entries) {
  std::vector<RunningApp> apps;
  for (const ClientWindow& window : windows) {
    if (!window.pid) continue;
    const bool known = std::any_of(apps.begin(), apps.end(),
                                   [&](const RunningApp& app) { return app.pid == *window.pid; });
    if (!known) apps.push_back(app_of(window, entries));
  }
  return apps;
}

}  // namespace kestrum::computer::x11
