#include "proxy/rules.h"

#include <array>

#include "base/ascii.h"

namespace kestrum::sandbox {
namespace {

bool pattern_matches(std::string_view host, const std::string& raw_pattern) {
  const std::string pattern = ascii_lowercase(raw_pattern);
  if (pattern.size() >= 2 && pattern.starts_with("*.")) {
    const std::string_view suffix = std::string_view(pattern).substr(1);
    return host.size() > suffix.size() && host.ends_with(suffix);
  }
  return host == pattern;
}

constexpr std::array<std::string_view, 3> kDroppedHeaders = {"connection", "proxy-connection",
                                                             "proxy-authorization"};

bool dropped_header(std::string_view line) {
  const std::string name = ascii_lowercase(line.substr(0, line.find(':')));
  for (std::string_view dropped : kDroppedHeaders) {
    if (name == dropped) return true;
  }
  return false;
}

}  // namespace

bool host_matches(const std::vector<std::string>& patterns, std::string_view host) {
  while (host.ends_with('.')) host.remove_suffix(1);
  const std::string normalized = ascii_lowercase(host);
  for (const auto& pattern : patterns) {
    if (pattern_matches(normalized, pattern)) return true;
  }
  return false;
}

std::string forbidden_response(std::string_view host) {
  const std::string body = "The Kestrum sandbox does not allow " + std::string(host) +
                           "; ask for it in network_hosts.\n";
  return "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string format_authority(std::string_view host, std::uint16_t port) {
  if (host.find(':') != std::string_view::npos) {
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

std::string rewrite_head(std::string_view head_text, std::string_view path) {
  std::size_t end = head_text.find("\r\n");
  const std::string_view request_line = head_text.substr(0, end);
  const std::string_view method = request_line.substr(0, request_line.find(' '));
  const std::size_t last_space = request_line.rfind(' ');
  const std::string_view version =
      last_space == std::string_view::npos ? request_line : request_line.substr(last_space + 1);

  std::string out;
  out.reserve(head_text.size() + 32);
  out.append(method).append(" ").append(path).append(" ").append(version).append("\r\n");
  while (end != std::string_view::npos) {
    const std::size_t start = end + 2;
    end = head_text.find("\r\n", start);
    const std::string_view line =
        head_text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!dropped_header(line)) out.append(line).append("\r\n");
  }
  out.append("Connection: close\r\n\r\n");
  return out;
}

}  // namespace kestrum::sandbox
