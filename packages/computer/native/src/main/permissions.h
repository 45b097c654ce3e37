// The permission report and the permission prompts.
#pragma once

#include <string>

#include "desktop/desktop.h"
#include "main/cli.h"

namespace kestrum::computer {

// {"permissions":{"capture":…,"input":…},"platform":"macos"} and a line
// feed, read from the desktop now.
std::string permission_report(Desktop& desktop);

// Asks the system to show its prompt; does not wait for the person.
void request_permission(Desktop& desktop, Permission permission);

}  // namespace kestrum::computer
