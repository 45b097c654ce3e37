// The loopback proxy: its start inside the launcher, the accept loop, and
// serving one request per connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"
#include "policy/policy.h"
#include "proxy/events.h"
#include "proxy/relay.h"
#include "proxy/stream.h"
#include "proxy/threads.h"
#include "proxy/upstream.h"

namespace kestrum::sandbox {

inline constexpr std::string_view kOpenUrlHost = "open-url.kestrum.invalid";

// Shared by every proxy thread; built once after the fork, read-only after.
struct ProxyState {
  std::unique_ptr<EventChannel> events;  // null without --events-fd
  Network network;
  std::optional<UpstreamProxy> upstream;
  // Shared by the tunnels; counts for itself, so a const state may lend it.
  mutable BulkBudget bulk_budget{kBulkSlots};
  // The threads that serve connections and their relays. Enough wait for
  // work to absorb a client's burst of short connections; a second is long
  // against a connection's life and short against a test's patience.
  std::shared_ptr<Workers> workers = Workers::make(64, std::chrono::seconds(1));
};

// Binds 127.0.0.1 on a port the system picks; close-on-exec, backlog 128.
Result<std::pair<UniqueFd, std::uint16_t>> bind_loopback_listener();

// A proxy that listens but does not serve yet: the port goes into the
// command's profile and environment before the command starts.
struct ProxyListener {
  UniqueFd listener;
  std::uint16_t port = 0;
  UniqueFd events;  // closed on exec: the command never holds it
};

// Takes the event descriptor, if any, and binds the listener. Fails with
// "could not start the proxy: " and the reason.
Result<ProxyListener> open_proxy(std::optional<std::int32_t> events_fd);

// Starts serving on its own threads and returns: the descriptor limit
// raised, the upstream proxy read, the accept thread started. Fails with
// "could not start the proxy: no thread could be started".
Status serve_proxy(ProxyListener proxy, const Network& network);

// Accepts forever, one detached thread per connection.
void accept_loop(std::shared_ptr<const ProxyState> state, UniqueFd listener);

// Serves exactly one request on one accepted connection, then closes it.
void handle_connection(const ProxyState& state, ProxyStream client);

// The proxy side of the open-url back-channel.
void handle_open_url(const ProxyState& state, std::string_view path, ProxyStream& client);

}  // namespace kestrum::sandbox
