// The start-up of `serve`: the shared state, the event tap on the main
// thread's run loop, the serve loop on its own thread.
#pragma once

#include <string_view>

#include "base/result.h"
#include "desktop/desktop.h"
#include "desktop/lookups.h"

namespace kestrum::computer {

inline constexpr std::string_view kNoTap =
    "Kestrum needs the Accessibility permission to see when you take over";
inline constexpr std::string_view kNoRunLoopSource = "could not listen to the input";
inline constexpr std::string_view kNoRunLoop = "no run loop";

// Runs the server. Returns only when start-up fails (no request has been
// read then) or when the run loop ends; the serve loop ends the process
// itself.
Status run_server(Desktop& desktop, const OwnIdentity& own);

}  // namespace kestrum::computer
