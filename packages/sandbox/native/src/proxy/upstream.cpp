#include "proxy/upstream.h"

#include <cstdlib>

#include "base/ascii.h"
#include "base/utf8.h"
#include "proxy/head.h"
#include "proxy/net.h"
#include "proxy/rules.h"

namespace kestrum::sandbox {
namespace {

std::optional<std::string> usable(EnvironmentLookup lookup, const char* name, bool allow_empty) {
  auto value = lookup(name);
  if (!value || !is_valid_utf8(*value) || (!allow_empty && value->empty())) return std::nullopt;
  return value;
}

std::vector<std::string> parse_no_proxy(std::string_view text) {
  std::vector<std::string> entries;
  while (true) {
    const std::size_t comma = text.find(',');
    std::string_view entry = trim_unicode_white_space(text.substr(0, comma), Overlong::kRefused);
    while (entry.starts_with('.')) entry.remove_prefix(1);
    if (!entry.empty()) entries.push_back(ascii_lowercase(entry));
    if (comma == std::string_view::npos) return entries;
    text.remove_prefix(comma + 1);
  }
}

bool upstream_answered_200(std::string_view head_text) {
  const std::size_t space = head_text.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view rest = head_text.substr(space + 1);
  return rest.substr(0, rest.find(' ')) == "200";
}

}  // namespace

std::optional<std::string> process_environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::optional<UpstreamProxy> read_upstream_proxy(EnvironmentLookup lookup) {
  std::optional<std::string> value;
  for (const char* name : {"HTTPS_PROXY", "https_proxy", "HTTP_PROXY", "http_proxy"}) {
    if ((value = usable(lookup, name, false))) break;
  }
  auto no_proxy = usable(lookup, "NO_PROXY", true);
  if (!no_proxy) no_proxy = usable(lookup, "no_proxy", true);
  if (!value || !value->starts_with("http://")) return std::nullopt;

  std::string_view authority = std::string_view(*value).substr(7);
  authority = authority.substr(0, authority.find('/'));
  UpstreamProxy upstream;
  std::string_view host_part = authority;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    upstream.authorization = "Basic " + base64_encode(percent_decode(authority.substr(0, at)));
    host_part = authority.substr(at + 1);
  }
  upstream.address = std::string(host_part);
  if (host_part.find(':') == std::string_view::npos) upstream.address += ":80";
  upstream.no_proxy = parse_no_proxy(no_proxy.value_or(""));
  return upstream;
}

bool upstream_exempt(const UpstreamProxy& upstream, std::string_view host) {
  for (const auto& entry : upstream.no_proxy) {
    if (entry == "*" || entry == host) return true;
    if (host.size() > entry.size() && host.ends_with(entry) &&
        host[host.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

Result<ProxyStream> connect_via_upstream(const UpstreamProxy& upstream, std::string_view host,
                                         std::uint16_t port) {
  auto stream = connect_host_port(upstream.address);
  if (!stream) return stream;
  const std::string authority = format_authority(host, port);
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (upstream.authorization) request += "Proxy-Authorization: " + *upstream.authorization + "\r\n";
  request += "\r\n";
  if (auto sent = stream->write_all(request); !sent) return fail(sent.error());
  auto head = read_head(*stream);
  if (!head) return fail(head.error());
  if (!upstream_answered_200(head->text)) return fail("the upstream proxy refused the tunnel");
  return stream;
}

std::string base64_encode(std::string_view bytes) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      out.push_back(j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '=');
    }
  }
  return out;
}

}  // namespace kestrum::sandbox
