// Replacing the current process with the sandbox tool running the command.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "policy/policy.h"

namespace kestrum::sandbox {

struct LaunchCommand {
  std::string program;
  std::vector<std::string> args;
  // The core-file limit the command gets, when the launcher lowered its own.
  std::optional<rlimit> core_limit;
};

// Builds the environment and the profile, enters the prepared working folder
// and execs `tool` with "-p" and the profile. Returns only when the start
// failed, with "could not start <tool>: <reason>".
Status launch(const PreparedPolicy& policy, std::string_view tool, const LaunchCommand& command,
              std::optional<std::uint16_t> port);

}  // namespace kestrum::sandbox
