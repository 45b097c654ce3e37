#include "proxy/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "base/ascii.h"
#include "base/descriptors.h"
#include "base/system_error.h"

namespace kestrum::sandbox {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

Result<ProxyStream> connect_one(const addrinfo& address) {
  auto fd = cloexec_socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (!fd) return fail(system_error_text(fd.error()));
  if (::connect(fd->get(), address.ai_addr, address.ai_addrlen) != 0)
    return fail(last_system_error_text());
  return ProxyStream(std::move(*fd), ProxyStream::Kind::kTcp);
}

// "[v6]:port" with a numeric IPv6 literal between the brackets. Anything
// else in brackets ("[127.0.0.1]", "[vm]") is no address of its own and
// goes to the resolver as written.
std::optional<std::pair<std::string_view, std::string_view>> bracketed_ipv6(std::string_view text) {
  const std::size_t close = text.find("]:");
  if (!text.starts_with('[') || close == std::string_view::npos) return std::nullopt;
  const std::string host(text.substr(1, close - 1));
  in6_addr address;
  if (::inet_pton(AF_INET6, host.c_str(), &address) != 1) return std::nullopt;
  return std::pair{text.substr(1, close - 1), text.substr(close + 2)};
}

}  // namespace

Result<ProxyStream> connect_tcp(std::string_view host, std::uint16_t port) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const int resolved =
      ::getaddrinfo(std::string(host).c_str(), std::to_string(port).c_str(), &hints, &raw);
  if (resolved != 0) {
    return fail(resolved == EAI_SYSTEM ? last_system_error_text()
                                       : std::string(gai_strerror(resolved)));
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  std::string last_error = "no address found for " + std::string(host);
  for (const addrinfo* address = list.get(); address; address = address->ai_next) {
    auto stream = connect_one(*address);
    if (stream) return stream;
    last_error = stream.error();
  }
  return fail(last_error);
}

Result<ProxyStream> connect_host_port(std::string_view text) {
  std::string_view host;
  std::string_view port_text;
  if (auto literal = bracketed_ipv6(text)) {
    std::tie(host, port_text) = *literal;
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return fail("invalid port");
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
  }
  const auto port = parse_decimal<std::uint16_t>(port_text);
  if (!port) return fail("invalid port");
  return connect_tcp(host, *port);
}

}  // namespace kestrum::sandbox
