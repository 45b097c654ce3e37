// JSON forms shared by several answers and by the permission report.
#pragma once

#include <string_view>

#include "desktop/desktop.h"
#include "desktop/lookups.h"
#include "json/writer.h"

namespace kestrum::computer {

// The platform the answers name; the protocol knows only this one.
inline constexpr std::string_view kPlatform = "macos";

// {"capture":…,"input":…}, read from the desktop now.
json::Object permissions_object(Desktop& desktop);
// {"height":…,"width":…,"x":…,"y":…}, always floats.
json::Object screen_object(const ScreenRect& rect);

}  // namespace kestrum::computer
