// handle_request: the checks and the work of each operation, in order. It
// never writes to the output; the serve loop answers with its Outcome.
#pragma once

#include <string_view>

#include "serve/outcome.h"
#include "serve/request.h"
#include "serve/state.h"

namespace kestrum::computer {

Outcome handle_request(ServerState& state, const Op& op, Party party);

}  // namespace kestrum::computer
