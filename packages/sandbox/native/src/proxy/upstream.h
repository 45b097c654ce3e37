// The person's own HTTP proxy, named in the launcher's environment: allowed
// traffic leaves through a CONNECT tunnel on it unless NO_PROXY exempts the
// host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "proxy/stream.h"

namespace kestrum::sandbox {

struct UpstreamProxy {
  std::string address;                       // host and port, always with a ":"
  std::vector<std::string> no_proxy;         // lower-case, no leading dots, none empty
  std::optional<std::string> authorization;  // "Basic " + Base64
};

// Looks up a variable of the launcher's own environment; nothing when unset.
using EnvironmentLookup = std::optional<std::string> (*)(const char* name);
std::optional<std::string> process_environment(const char* name);

std::optional<UpstreamProxy> read_upstream_proxy(EnvironmentLookup lookup = process_environment);

// True when the host must be reached directly.
bool upstream_exempt(const UpstreamProxy& upstream, std::string_view host);

// A stream on which the upstream has opened a tunnel to host:port.
Result<ProxyStream> connect_via_upstream(const UpstreamProxy& upstream, std::string_view host,
                                         std::uint16_t port);

std::string base64_encode(std::string_view bytes);

}  // namespace kestrum::sandbox
