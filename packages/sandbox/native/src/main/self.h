// What the launcher needs to know about itself and its system, one function
// per question, answered per platform.
#pragma once

#include <optional>
#include <string>

#include "base/result.h"

namespace kestrum::sandbox {

// The path the system used to start this process.
Result<std::string> own_executable_path();

// The per-user temporary folder the system reports, where there is one.
std::optional<std::string> user_temp_dir();

}  // namespace kestrum::sandbox
