// What the proxy decides and says: host patterns, the fixed answers, and the
// head forwarded to an origin server. All pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum::sandbox {

inline constexpr std::string_view kBadRequest =
    "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kBadGateway =
    "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kUnavailable =
    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kNoContent =
    "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";

// Exact names, or "*." + domain for strictly deeper subdomains. Trailing dots
// of the host are ignored; ports never take part.
bool host_matches(const std::vector<std::string>& patterns, std::string_view host);

// The 403 page naming the refused host.
std::string forbidden_response(std::string_view host);

// host:port, with an IPv6 host in brackets.
std::string format_authority(std::string_view host, std::uint16_t port);

// The head sent to an origin server: origin-form request line, hop-by-hop
// and proxy headers dropped, "Connection: close" added.
std::string rewrite_head(std::string_view head_text, std::string_view path);

}  // namespace kestrum::sandbox
