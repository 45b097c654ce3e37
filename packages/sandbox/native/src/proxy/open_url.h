// The client half of the open-url back-channel: runs inside the sandbox and
// asks the launcher's proxy, outside it, to pass a web address on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "proxy/upstream.h"

namespace kestrum::sandbox {

// Every byte but A-Z a-z 0-9 - . _ ~ as %XX with upper-case digits.
std::string percent_encode(std::string_view bytes);

// `args` are the words after "open-url". Fails with the usage text, a fixed
// message, the system's description of a network failure, or "the sandbox
// did not pass the page on (<status>)".
Status open_url(const std::vector<std::string>& args,
                EnvironmentLookup lookup = process_environment);

}  // namespace kestrum::sandbox
