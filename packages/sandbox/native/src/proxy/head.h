// Request heads: reading one from a stream, and parsing its request line and
// the host-and-port authorities in it. The parsers are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "proxy/stream.h"

namespace kestrum::sandbox {

inline constexpr std::size_t kHeadReadSize = 4096;
inline constexpr std::size_t kHeadLimit = 16384;

inline constexpr std::string_view kHeadTooLong = "the head is too long";
inline constexpr std::string_view kHeadCutShort =
    "the connection ended before the head was complete";

struct RequestHead {
  std::string text;  // before the first CR LF CR LF, invalid UTF-8 replaced
  std::string rest;  // raw bytes that arrived after it in the same reads
};

struct Authority {
  std::string host;  // ASCII-lowercased, IPv6 literal without brackets
  std::uint16_t port = 0;
};

struct ProxyRequest {
  std::string host;
  std::uint16_t port = 0;
  std::string path;  // empty for CONNECT
  bool is_connect = false;
};

// Reads 4096 bytes at a time until CR LF CR LF. Fails with the read error,
// kHeadCutShort at end of stream, or kHeadTooLong once more than 16384 bytes
// arrived without a terminator.
Result<RequestHead> read_head(ProxyStream& stream);

// The terminator search and limit rule of read_head, over bytes already
// buffered: the head when complete, kHeadTooLong past the limit, or nothing
// when more bytes are needed.
std::optional<Result<RequestHead>> take_head(std::string_view buffered, std::size_t searched_from);

std::optional<Authority> parse_authority(std::string_view text, std::uint16_t default_port);

// The request line of a head (its first line); nothing when the request is
// malformed and deserves the bad-request answer.
std::optional<ProxyRequest> parse_request(std::string_view head_text);

// "%XX" with two hexadecimal digits becomes that byte; everything else, a
// lone or malformed "%" included, stays. The result is made valid UTF-8.
std::string percent_decode(std::string_view text);

}  // namespace kestrum::sandbox
