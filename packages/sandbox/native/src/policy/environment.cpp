#include "policy/environment.h"

#include <algorithm>
#include <array>
#include <map>

#include "base/ascii.h"
#include "policy/path.h"

// Declared by <unistd.h> only on some systems.
extern char** environ;

namespace kestrum::sandbox {
namespace {

// Removed whatever the policy says: a proxy setting the launcher inherited
// would send the command's traffic around the loopback proxy.
constexpr std::array<std::string_view, 8> kProxyNames{
    "HTTP_PROXY",         "HTTPS_PROXY",        "ALL_PROXY",
    "NO_PROXY",           "npm_config_proxy",   "npm_config_https_proxy",
    "npm_config_noproxy", "NODE_USE_ENV_PROXY",
};

enum class ProxyValue { kAddress, kOne, kEmpty };

struct ProxyVariable {
  std::string_view name;
  ProxyValue value;
};

constexpr std::array<ProxyVariable, 12> kProxyVariables{{
    {"HTTP_PROXY", ProxyValue::kAddress},
    {"HTTPS_PROXY", ProxyValue::kAddress},
    {"ALL_PROXY", ProxyValue::kAddress},
    {"http_proxy", ProxyValue::kAddress},
    {"https_proxy", ProxyValue::kAddress},
    {"all_proxy", ProxyValue::kAddress},
    {"npm_config_proxy", ProxyValue::kAddress},
    {"npm_config_https_proxy", ProxyValue::kAddress},
    {"NODE_USE_ENV_PROXY", ProxyValue::kOne},
    {"NO_PROXY", ProxyValue::kEmpty},
    {"no_proxy", ProxyValue::kEmpty},
    {"npm_config_noproxy", ProxyValue::kEmpty},
}};

constexpr std::array<std::string_view, 10> kCertificateNames{
    "SSL_CERT_FILE",  "NODE_EXTRA_CA_CERTS",  "REQUESTS_CA_BUNDLE", "CURL_CA_BUNDLE",
    "GIT_SSL_CAINFO", "ZUVEV_CA_CERTIFICATE", "PIP_CERT",           "DENO_CERT",
    "AWS_CA_BUNDLE",  "CARGO_HTTP_CAINFO",
};

constexpr std::string_view kCertificateFileName = kCertificateNames[0];

bool is_proxy_name(std::string_view name) {
  return std::any_of(kProxyNames.begin(), kProxyNames.end(),
                     [&](std::string_view proxy) { return ascii_iequals(proxy, name); });
}

bool contains(const std::vector<std::string>& texts, std::string_view text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool stays(std::string_view raw_name, const PreparedPolicy& policy) {
  const std::string name = display_text(raw_name);
  if (is_proxy_name(name)) return false;
  if (contains(policy.keep_env, name)) return true;
  return std::none_of(
      policy.deny_env.begin(), policy.deny_env.end(),
      [&](const std::string& pattern) { return env_pattern_matches(name, pattern); });
}

void append_proxy_variables(std::vector<EnvEntry>& env, std::uint16_t port) {
  const std::string address = "http://127.0.0.1:" + std::to_string(port);
  for (const ProxyVariable& variable : kProxyVariables) {
    std::string value;
    switch (variable.value) {
      case ProxyValue::kAddress:
        value = address;
        break;
      case ProxyValue::kOne:
        value = "1";
        break;
      case ProxyValue::kEmpty:
        break;
    }
    env.emplace_back(std::string(variable.name), std::move(value));
  }
}

void point_certificates_at(std::vector<EnvEntry>& env, const std::string& bundle) {
  std::erase_if(env, [](const EnvEntry& entry) {
    return std::find(kCertificateNames.begin(), kCertificateNames.end(), entry.first) !=
           kCertificateNames.end();
  });
  for (std::string_view name : kCertificateNames) env.emplace_back(std::string(name), bundle);
}

// Everything between the first and the last piece: each middle piece must
// occur in order, leftmost first.
bool middle_pieces_found(std::string_view middle, std::string_view pieces) {
  while (!pieces.empty()) {
    const std::size_t star = pieces.find('*');
    const std::string_view piece = pieces.substr(0, star);
    const std::size_t at = middle.find(piece);
    if (at == std::string_view::npos) return false;
    middle.remove_prefix(at + piece.size());
    pieces.remove_prefix(star == std::string_view::npos ? pieces.size() : star + 1);
  }
  return true;
}

}  // namespace

std::vector<EnvEntry> launcher_environment() {
  std::vector<EnvEntry> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    env.emplace_back(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return env;
}

bool env_pattern_matches(std::string_view name, std::string_view pattern) {
  const std::string lower_name = ascii_lowercase(name);
  const std::string lower_pattern = ascii_lowercase(pattern);
  const std::size_t first_star = lower_pattern.find('*');
  if (first_star == std::string::npos) return lower_name == lower_pattern;
  const std::size_t last_star = lower_pattern.rfind('*');
  const std::string_view prefix = std::string_view(lower_pattern).substr(0, first_star);
  const std::string_view suffix = std::string_view(lower_pattern).substr(last_star + 1);
  std::string_view rest = lower_name;
  if (!rest.starts_with(prefix)) return false;
  rest.remove_prefix(prefix.size());
  if (!rest.ends_with(suffix)) return false;
  rest.remove_suffix(suffix.size());
  if (first_star == last_star) return true;
  const std::string_view middle_pieces =
      std::string_view(lower_pattern).substr(first_star + 1, last_star - first_star - 1);
  return middle_pieces_found(rest, middle_pieces);
}

std::vector<EnvEntry> child_environment(const PreparedPolicy& policy,
                                        std::optional<std::uint16_t> port,
                                        const std::vector<EnvEntry>& launcher_env) {
  std::vector<EnvEntry> env;
  for (const EnvEntry& entry : launcher_env) {
    if (stays(entry.first, policy)) env.push_back(entry);
  }
  if (port) append_proxy_variables(env, *port);
  if (const auto& credentials = policy.network.credentials) {
    point_certificates_at(env, credentials->certificates);
  }
  const bool has_bundle = std::any_of(env.begin(), env.end(), [](const EnvEntry& entry) {
    return entry.first == kCertificateFileName;
  });
  if (!has_bundle) env.emplace_back(std::string(kCertificateFileName), kDefaultCertificateBundle);
  return env;
}

std::vector<std::string> finalize_environment(const std::vector<EnvEntry>& entries) {
  // std::string orders by unsigned bytes, which is the order asked for.
  std::map<std::string, std::string> by_name;
  for (const auto& [name, value] : entries) by_name.insert_or_assign(name, value);
  std::vector<std::string> strings;
  strings.reserve(by_name.size());
  for (const auto& [name, value] : by_name) strings.push_back(name + "=" + value);
  return strings;
}

}  // namespace kestrum::sandbox
