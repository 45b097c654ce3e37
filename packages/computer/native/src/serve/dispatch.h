// handle_request: the checks and the work of each operation, in order. It
// never writes to the output; the serve loop answers with its Outcome.
#pragma once

#include <string_view>

#include "serve/outcome.h"
#include "serve/request.h"
#include "serve/state.h"

namespace kestrum::computer {

inline constexpr std::string_view kBadClickCount = "a click counts 1 to 3 clicks";
inline constexpr std::string_view kShortDrag = "a drag needs at least two points";

// Services that later work adds; until then an operation that passes its
// checks fails with the name of the missing service.
inline constexpr std::string_view kNoInputSynthesis = "input synthesis is not available yet";
inline constexpr std::string_view kNoApplicationList = "the application list is not available yet";
inline constexpr std::string_view kNoApplicationOpening =
    "opening applications is not available yet";
inline constexpr std::string_view kNoScreenCapture = "screen capture is not available yet";

Outcome handle_request(ServerState& state, const Op& op, Party party);

}  // namespace kestrum::computer
