// Outgoing TCP connections with the system resolver.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "proxy/stream.h"

namespace kestrum::sandbox {

// Resolves `host` (a literal is used as is) and tries each address in the
// order returned with a blocking connect; the first success wins. Fails with
// the resolver's description, or the last connect's system error text.
Result<ProxyStream> connect_tcp(std::string_view host, std::uint16_t port);

// The same for "host:port" text: "[v6]:port" with a numeric IPv6 literal,
// else split at the last ":" and the host resolved as written.
// A missing or invalid port fails with "invalid port".
Result<ProxyStream> connect_host_port(std::string_view text);

}  // namespace kestrum::sandbox
