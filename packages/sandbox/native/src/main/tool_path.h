// The sandbox tool this launcher was built to run. Fixed at build time so
// that no environment variable or argument can swap the program that
// applies the sandbox.
#pragma once

#include <string_view>

namespace kestrum::sandbox {

std::string_view sandbox_tool_path();

}  // namespace kestrum::sandbox
