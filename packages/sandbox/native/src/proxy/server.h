// The loopback proxy: its start inside the launcher (listener, fork, the
// command in the child), the accept loop, and serving one request per
// connection.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"
#include "policy/launch.h"
#include "policy/policy.h"
#include "proxy/events.h"
#include "proxy/stream.h"
#include "proxy/upstream.h"

namespace kestrum::sandbox {

inline constexpr std::string_view kOpenUrlHost = "open-url.kestrum.invalid";

// Shared by every proxy thread; built once after the fork, read-only after.
struct ProxyState {
  std::unique_ptr<EventChannel> events;  // null without --events-fd
  Network network;
  std::optional<UpstreamProxy> upstream;
};

// Binds 127.0.0.1 on a port the system picks; close-on-exec, backlog 128.
Result<std::pair<UniqueFd, std::uint16_t>> bind_loopback_listener();

// Starts the proxy and the command in a forked child, then mirrors the
// child's status as the launcher's own. Returns only with an error message.
Status start_proxy(const PreparedPolicy& policy, std::string_view tool,
                   const LaunchCommand& command, std::optional<std::int32_t> events_fd);

// Accepts forever, one detached thread per connection.
void accept_loop(std::shared_ptr<const ProxyState> state, UniqueFd listener);

// Serves exactly one request on one accepted connection, then closes it.
void handle_connection(const ProxyState& state, ProxyStream client);

// The proxy side of the open-url back-channel.
void handle_open_url(const ProxyState& state, std::string_view path, ProxyStream& client);

}  // namespace kestrum::sandbox
