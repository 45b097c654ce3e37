// The launcher's own proxy settings come from its environment: whatever the
// HTTPS_PROXY and NO_PROXY values hold, reading them must not crash, and
// what comes out must keep its promises (an address with a ":", NO_PROXY
// entries lower-case, without leading dots, never empty).
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "proxy/upstream.h"

using namespace kestrum::sandbox;

namespace {

// The lookup is a plain function, so the input it answers from lives here.
std::string proxy_value;
std::string no_proxy_value;

std::optional<std::string> lookup(const char* name) {
  if (std::string_view(name) == "HTTPS_PROXY") return proxy_value;
  if (std::string_view(name) == "NO_PROXY") return no_proxy_value;
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\n');
  proxy_value = "http://" + std::string(bytes.substr(0, split));
  no_proxy_value = split == std::string_view::npos ? "" : std::string(bytes.substr(split + 1));
  auto upstream = read_upstream_proxy(lookup);
  if (!upstream) return 0;
  if (upstream->address.find(':') == std::string::npos) std::abort();
  for (const auto& entry : upstream->no_proxy) {
    if (entry.empty() || entry.front() == '.') std::abort();
    for (char c : entry) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
  }
  if (upstream->authorization && !upstream->authorization->starts_with("Basic ")) std::abort();
  (void)upstream_exempt(*upstream, "a.example.test");
  return 0;
}
