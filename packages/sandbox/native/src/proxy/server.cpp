#include "proxy/server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "base/descriptors.h"
#include "base/system_error.h"
#include "policy/path.h"
#include "proxy/head.h"
#include "proxy/net.h"
#include "proxy/relay.h"
#include "proxy/rules.h"
#include "proxy/threads.h"

namespace kestrum::sandbox {
namespace {

void answer(ProxyStream& client, std::string_view response) { (void)client.write_all(response); }

Result<ProxyStream> connect_credential_service(const std::string& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (holds_nul(path)) return fail(std::string(kNulInPath));
  if (path.size() >= sizeof address.sun_path) return fail("the socket path is too long");
  std::memcpy(address.sun_path, path.data(), path.size());
  auto fd = cloexec_socket(AF_UNIX, SOCK_STREAM, 0);
  if (!fd) return fail(system_error_text(fd.error()));
  if (::connect(fd->get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(last_system_error_text());
  }
  return ProxyStream(std::move(*fd), ProxyStream::Kind::kUnixDomain);
}

void serve_through_credentials(const Credentials& credentials, const ProxyRequest& request,
                               const RequestHead& head, ProxyStream client,
                               const ProxyState& state) {
  auto service = connect_credential_service(credentials.socket);
  if (!service) return answer(client, kBadGateway);
  const std::string authority = format_authority(request.host, request.port);
  const std::string opening = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
                              "\r\nKestrum-Command: " + credentials.command + "\r\n\r\n" +
                              head.rest;
  if (!service->write_all(opening)) return answer(client, kBadGateway);
  // The service's own answer, its 200 line included, reaches the client
  // through the relay.
  relay(std::move(client), std::move(*service), state.bulk_budget, *state.workers);
}

Result<ProxyStream> connect_server(const ProxyState& state, const ProxyRequest& request) {
  if (state.upstream && !upstream_exempt(*state.upstream, request.host)) {
    return connect_via_upstream(*state.upstream, request.host, request.port);
  }
  return connect_tcp(request.host, request.port);
}

void serve_allowed(const ProxyState& state, const ProxyRequest& request, const RequestHead& head,
                   ProxyStream client) {
  // The resolver, an upstream proxy and the credential service each read a
  // host only up to a NUL, so they would reach a shorter name than the one
  // the allow patterns judged ("inner\0.allowed.test").
  if (holds_nul(request.host)) return answer(client, kBadGateway);
  const auto& credentials = state.network.credentials;
  if (credentials && request.is_connect && host_matches(credentials->hosts, request.host)) {
    return serve_through_credentials(*credentials, request, head, std::move(client), state);
  }
  auto server = connect_server(state, request);
  if (!server) return answer(client, kBadGateway);
  if (request.is_connect) {
    if (!client.write_all(kEstablished)) return;
    if (!head.rest.empty() && !server->write_all(head.rest)) return;
  } else if (!server->write_all(rewrite_head(head.text, request.path) + head.rest)) {
    return;
  }
  relay(std::move(client), std::move(*server), state.bulk_budget, *state.workers);
}

bool transient_accept_failure(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// Every tunnel holds four descriptors; the usual soft limit (256 on macOS)
// would cap the proxy at a few dozen tunnels. Raised in the proxy only: the
// command keeps the limit it was given.
void raise_descriptor_limit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = limit.rlim_max;
#if defined(__APPLE__)
  wanted = std::min<rlim_t>(wanted, OPEN_MAX);
#endif
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = wanted;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

Result<std::pair<UniqueFd, std::uint16_t>> bind_loopback_listener() {
  auto made = cloexec_socket(AF_INET, SOCK_STREAM, 0);
  if (!made) return fail(system_error_text(made.error()));
  UniqueFd fd = std::move(*made);
  const int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 128) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail(last_system_error_text());
  }
  return std::pair{std::move(fd), ntohs(address.sin_port)};
}

void handle_open_url(const ProxyState& state, std::string_view path, ProxyStream& client) {
  constexpr std::string_view kQuery = "/?url=";
  if (!path.starts_with(kQuery)) return answer(client, kBadRequest);
  const std::string url = percent_decode(path.substr(kQuery.size()));
  if (!url.starts_with("https://") && !url.starts_with("http://"))
    return answer(client, kBadRequest);
  if (!state.events) return answer(client, kUnavailable);
  state.events->write_line(open_url_event(url));
  answer(client, kNoContent);
}

void handle_connection(const ProxyState& state, ProxyStream client) {
  auto head = read_head(client);
  if (!head) return;
  auto request = parse_request(head->text);
  if (!request) return answer(client, kBadRequest);
  if (!request->is_connect && request->host == kOpenUrlHost) {
    return handle_open_url(state, request->path, client);
  }
  const bool allowed = state.network.open || host_matches(state.network.allow, request->host);
  if (state.events) state.events->write_line(network_event(allowed, request->host));
  if (!allowed) return answer(client, forbidden_response(request->host));
  serve_allowed(state, *request, *head, std::move(client));
}

void accept_loop(std::shared_ptr<const ProxyState> state, UniqueFd listener) {
  while (true) {
    auto fd = cloexec_accept(listener.get());
    if (!fd) {
      // Out of descriptors or memory: accepting again at once would spin;
      // a short pause lets finished connections give theirs back.
      if (transient_accept_failure(fd.error())) {
        const timespec pause = {0, 10'000'000};
        ::nanosleep(&pause, nullptr);
      }
      continue;
    }
    ProxyStream client(std::move(*fd), ProxyStream::Kind::kTcp);
    // When no thread can be started the connection is closed unserved; the
    // loop goes on serving the others.
    (void)state->workers->run([state, client = std::move(client)]() mutable {
      handle_connection(*state, std::move(client));
    });
  }
}

Result<ProxyListener> open_proxy(std::optional<std::int32_t> events_fd) {
  // A negative number is never a descriptor; running on without the events
  // the caller asked for would hide every request from it.
  if (events_fd && *events_fd < 0) {
    return fail("could not start the proxy: the event descriptor " + std::to_string(*events_fd) +
                " is negative");
  }
  // A number that is not open would be taken by the proxy's own sockets
  // later, and event lines would go into forwarded requests and tunnels.
  if (events_fd && ::fcntl(*events_fd, F_GETFD) < 0) {
    return fail("could not start the proxy: the event descriptor " + std::to_string(*events_fd) +
                " is not open");
  }
  UniqueFd events(events_fd ? *events_fd : -1);
  auto listener = bind_loopback_listener();
  if (!listener) return fail("could not start the proxy: " + listener.error());
  if (events) ::fcntl(events.get(), F_SETFD, FD_CLOEXEC);
  return ProxyListener{std::move(listener->first), listener->second, std::move(events)};
}

Status serve_proxy(ProxyListener proxy, const Network& network) {
  raise_descriptor_limit();
  auto state = std::make_shared<ProxyState>();
  if (proxy.events) state->events = std::make_unique<EventChannel>(std::move(proxy.events));
  state->network = network;
  state->upstream = read_upstream_proxy();
  const bool accepting = spawn_detached([state, fd = std::move(proxy.listener)]() mutable {
    accept_loop(std::move(state), std::move(fd));
  });
  if (!accepting) return fail("could not start the proxy: no thread could be started");
  return {};
}

}  // namespace kestrum::sandbox
