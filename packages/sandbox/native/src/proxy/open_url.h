// The client half of the open-url back-channel: runs inside the sandbox and
// asks the launcher's proxy, outside it, to pass a web address on.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "proxy/upstream.h"

namespace kestrum::sandbox {

// Every byte but A-Z a-z 0-9 - . _ ~ as %XX with upper-case digits.
std::string percent_encode(std::string_view bytes);

// Asks the proxy named by the environment to pass `url` on. Fails with a
// fixed message, the system's description of a network failure, or "the
// sandbox did not pass the page on (<status>)".
Status open_url(const std::string& url, EnvironmentLookup lookup = process_environment);

}  // namespace kestrum::sandbox
