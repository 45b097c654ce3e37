// Loopback connections for tests and benchmarks of the proxy.
#pragma once

#include <cstdint>

namespace kestrum::testing {

// A blocking, close-on-exec TCP connection to 127.0.0.1:port, owned by the
// caller; -1 when it cannot be made.
int connect_loopback(std::uint16_t port);

}  // namespace kestrum::testing
