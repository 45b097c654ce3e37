// Feeds arbitrary bytes to everything the proxy parses from a client or an
// upstream: the head terminator and limit rule, the request line, the
// authority, percent-decoding, and the head rewritten for an origin server.
// None may crash, and each result must keep its own invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/utf8.h"
#include "proxy/head.h"
#include "proxy/rules.h"

using namespace kestrum::sandbox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Resuming the search after an earlier read that held no terminator must
  // give the same answer as searching everything.
  const std::size_t half = size / 2;
  if (half <= kHeadLimit && bytes.substr(0, half).find("\r\n\r\n") == std::string_view::npos) {
    auto whole = take_head(bytes, 0);
    auto resumed = take_head(bytes, half);
    if (whole.has_value() != resumed.has_value()) std::abort();
    if (whole && whole->ok() != resumed->ok()) std::abort();
    if (whole && whole->ok() && (*whole)->rest != (*resumed)->rest) std::abort();
  }

  const std::string text = kestrum::utf8_lossy(bytes);
  if (auto request = parse_request(text)) {
    if (request->host.empty()) std::abort();
    if (request->is_connect != request->path.empty()) std::abort();
    if (!request->is_connect && request->path.front() != '/') std::abort();
    (void)rewrite_head(text, request->path);
    (void)format_authority(request->host, request->port);
  }
  (void)parse_authority(text, 443);
  if (!kestrum::is_valid_utf8(percent_decode(bytes))) std::abort();
  return 0;
}
