// The sub-commands that do work. Each returns only with an error message, or
// (run) not at all once the command has started.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "main/cli.h"

namespace kestrum::sandbox {

// Parses and prepares the policy, then launches the command in place, or
// behind the loopback proxy when the policy or the caller needs the network.
Status run(const RunRequest& request, std::string_view tool);

}  // namespace kestrum::sandbox
