// The applications a person works with: the "apps" list and the records it
// is made of. Reads the desktop afresh at every call; keeps nothing.
#pragma once

#include <vector>

#include "desktop/desktop.h"
#include "desktop/lookups.h"
#include "json/writer.h"

namespace kestrum::computer {

// Running applications with the regular activation policy and a bundle
// identifier, in the system's order; two instances give two records.
std::vector<AppRecord> regular_apps(Desktop& desktop, const OwnIdentity& own);

// The reply fields of "apps": "apps" without the server's own application,
// and "front", the frontmost application's identifier whoever it is (null
// when none is in front).
json::Object list_apps(Desktop& desktop, const OwnIdentity& own);

}  // namespace kestrum::computer
