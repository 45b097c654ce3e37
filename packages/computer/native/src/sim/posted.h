// The lines the simulated desktop appends to the scene's "posted" file.
#pragma once

#include <string>

#include "desktop/desktop.h"

namespace kestrum::computer::sim {

// One posted event as a compact JSON line with keys in byte order: "type",
// every field the server set, and the tag the desktop adds to every event.
std::string posted_line(const SyntheticEvent& event);

// The type of the event that `event` creates.
std::uint32_t posted_type(const SyntheticEvent& event);

inline constexpr std::string_view kTapEnabledLine = "{\"tapEnabled\":true}\n";

// Appends `line` to the file at `path`, creating it; a scene fault when the
// file cannot be written.
void append_line(const std::string& path, std::string_view line);

}  // namespace kestrum::computer::sim
