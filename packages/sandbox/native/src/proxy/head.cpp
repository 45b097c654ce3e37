#include "proxy/head.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/ascii.h"
#include "base/utf8.h"

namespace kestrum::sandbox {
namespace {

constexpr std::string_view kTerminator = "\r\n\r\n";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view first_line(std::string_view head) {
  std::string_view line = head.substr(0, head.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<Result<RequestHead>> take_head(std::string_view buffered, std::size_t searched_from) {
  // A terminator may straddle the previous read's end.
  const std::size_t start = searched_from < 3 ? 0 : searched_from - 3;
  const std::size_t at = buffered.find(kTerminator, start);
  if (at != std::string_view::npos) {
    return RequestHead{utf8_lossy(buffered.substr(0, at)),
                       std::string(buffered.substr(at + kTerminator.size()))};
  }
  if (buffered.size() > kHeadLimit) return Result<RequestHead>(fail(std::string(kHeadTooLong)));
  return std::nullopt;
}

Result<RequestHead> read_head(ProxyStream& stream) {
  std::string buffer;
  std::array<char, kHeadReadSize> chunk;
  while (true) {
    auto n = stream.read(chunk);
    if (!n) return fail(n.error());
    if (*n == 0) return fail(std::string(kHeadCutShort));
    const std::size_t searched_from = buffer.size();
    buffer.append(chunk.data(), *n);
    if (auto done = take_head(buffer, searched_from)) return std::move(*done);
  }
}

std::optional<Authority> parse_authority(std::string_view text, std::uint16_t default_port) {
  std::string_view host;
  std::optional<std::uint16_t> port = default_port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view after = text.substr(close + 1);
    if (after.starts_with(':')) port = parse_decimal<std::uint16_t>(after.substr(1), Sign::kPlus);
  } else {
    const std::size_t colon = text.rfind(':');
    host = text.substr(0, colon);
    if (colon != std::string_view::npos)
      port = parse_decimal<std::uint16_t>(text.substr(colon + 1), Sign::kPlus);
  }
  if (host.empty() || !port) return std::nullopt;
  return Authority{ascii_lowercase(host), *port};
}

std::optional<ProxyRequest> parse_request(std::string_view head_text) {
  const std::string_view line = first_line(head_text);
  const std::size_t space = line.find(' ');
  if (line.empty() || space == std::string_view::npos) return std::nullopt;
  const std::string_view method = line.substr(0, space);
  std::string_view target = line.substr(space + 1);
  target = target.substr(0, target.find(' '));

  if (ascii_iequals(method, "connect")) {
    auto authority = parse_authority(target, 443);
    if (!authority) return std::nullopt;
    return ProxyRequest{std::move(authority->host), authority->port, "", true};
  }
  constexpr std::string_view kScheme = "http://";
  if (!target.starts_with(kScheme)) return std::nullopt;
  target.remove_prefix(kScheme.size());
  const std::size_t slash = target.find('/');
  const std::string_view path = slash == std::string_view::npos ? "/" : target.substr(slash);
  auto authority = parse_authority(target.substr(0, slash), 80);
  if (!authority) return std::nullopt;
  return ProxyRequest{std::move(authority->host), authority->port, std::string(path), false};
}

std::string percent_decode(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return utf8_lossy(bytes);
}

}  // namespace kestrum::sandbox
