#include "proxy/open_url.h"

#include "base/utf8.h"
#include "proxy/head.h"
#include "proxy/net.h"
#include "proxy/server.h"

namespace kestrum::sandbox {
namespace {

std::optional<std::string> proxy_variable(EnvironmentLookup lookup) {
  for (const char* name : {"HTTP_PROXY", "http_proxy"}) {
    auto value = lookup(name);
    if (value && is_valid_utf8(*value)) return value;
  }
  return std::nullopt;
}

std::string status_text(std::string_view head_text) {
  const std::size_t space = head_text.find(' ');
  if (space == std::string_view::npos) return "no answer";
  const std::string_view rest = head_text.substr(space + 1);
  return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace

std::string percent_encode(std::string_view bytes) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

Status open_url(const std::string& url, EnvironmentLookup lookup) {
  if (!url.starts_with("https://") && !url.starts_with("http://"))
    return fail("only a web address can be opened");
  auto proxy = proxy_variable(lookup);
  if (!proxy) return fail("this command runs without the sandbox's proxy");
  if (!proxy->starts_with("http://")) return fail("the sandbox's proxy is not an http:// address");
  std::string_view address = std::string_view(*proxy).substr(7);
  while (address.ends_with('/')) address.remove_suffix(1);

  auto stream = connect_host_port(address);
  if (!stream) return fail(stream.error());
  const std::string host(kOpenUrlHost);
  const std::string request = "GET http://" + host + "/?url=" + percent_encode(url) +
                              " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
  if (auto sent = stream->write_all(request); !sent) return fail(sent.error());
  auto head = read_head(*stream);
  if (!head) return fail(head.error());
  const std::string status = status_text(head->text);
  if (status != "204") return fail("the sandbox did not pass the page on (" + status + ")");
  return {};
}

}  // namespace kestrum::sandbox
