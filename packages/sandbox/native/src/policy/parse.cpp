// parse_policy: the policy document's shape as tables of fields, then the
// checks that need no file system, first failure wins.
#include <string>
#include <string_view>

#include "json/decode.h"
#include "json/document.h"
#include "json/text.h"
#include "policy/path.h"
#include "policy/policy.h"

namespace kestrum::sandbox {
namespace {

using json::Checked;
using json::Decoder;
using json::FieldRule;
using json::Node;
using json::Presence;
using json::RecordRule;

constexpr Presence kRequired = Presence::kRequired;
constexpr Presence kDefault = Presence::kDefault;
constexpr std::string_view kPathString = "path string";

Checked read_path(Decoder& d, const Node& v, std::string& out) {
  return json::store(d.string(v, kPathString), out);
}
Checked read_paths(Decoder& d, const Node& v, std::vector<std::string>& out) {
  return json::store(d.strings(v, kPathString), out);
}
Checked read_texts(Decoder& d, const Node& v, std::vector<std::string>& out) {
  return json::store(d.strings(v), out);
}

constexpr FieldRule<Credentials> kCredentialsFields[] = {
    {"socket", kRequired,
     [](Decoder& d, const Node& v, Credentials& c) { return read_path(d, v, c.socket); }},
    {"command", kRequired,
     [](Decoder& d, const Node& v, Credentials& c) { return json::store(d.string(v), c.command); }},
    {"hosts", kRequired,
     [](Decoder& d, const Node& v, Credentials& c) { return read_texts(d, v, c.hosts); }},
    {"certificates", kRequired,
     [](Decoder& d, const Node& v, Credentials& c) { return read_path(d, v, c.certificates); }},
};
constexpr RecordRule<Credentials> kCredentials{"struct Credentials", kCredentialsFields};

// null means absent, like leaving the key out.
Checked read_credentials(Decoder& d, const Node& v, Network& n) {
  if (v.kind == json::Kind::kNull) {
    n.credentials.reset();
    return {};
  }
  return d.record(v, kCredentials, n.credentials.emplace());
}

constexpr FieldRule<Network> kNetworkFields[] = {
    {"allow", kRequired,
     [](Decoder& d, const Node& v, Network& n) { return read_texts(d, v, n.allow); }},
    {"open", kDefault,
     [](Decoder& d, const Node& v, Network& n) { return json::store(d.boolean(v), n.open); }},
    {"loopback", kDefault,
     [](Decoder& d, const Node& v, Network& n) { return json::store(d.boolean(v), n.loopback); }},
    {"sockets", kDefault,
     [](Decoder& d, const Node& v, Network& n) { return read_paths(d, v, n.sockets); }},
    {"credentials", kDefault, read_credentials},
};
constexpr RecordRule<Network> kNetwork{"struct Network", kNetworkFields};

constexpr FieldRule<Policy> kPolicyFields[] = {
    {"version", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return json::store(d.u32(v), p.version); }},
    {"cwd", kRequired, [](Decoder& d, const Node& v, Policy& p) { return read_path(d, v, p.cwd); }},
    {"write", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return read_paths(d, v, p.write); }},
    {"writeFiles", kDefault,
     [](Decoder& d, const Node& v, Policy& p) { return read_paths(d, v, p.write_files); }},
    {"denyWrite", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return read_paths(d, v, p.deny_write); }},
    {"denyRead", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return read_paths(d, v, p.deny_read); }},
    {"denyReadExcept", kDefault,
     [](Decoder& d, const Node& v, Policy& p) { return read_paths(d, v, p.deny_read_except); }},
    {"denyEnv", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return read_texts(d, v, p.deny_env); }},
    {"keepEnv", kDefault,
     [](Decoder& d, const Node& v, Policy& p) { return read_texts(d, v, p.keep_env); }},
    {"keychain", kDefault,
     [](Decoder& d, const Node& v, Policy& p) { return json::store(d.boolean(v), p.keychain); }},
    {"network", kRequired,
     [](Decoder& d, const Node& v, Policy& p) { return d.record(v, kNetwork, p.network); }},
};
constexpr RecordRule<Policy> kPolicy{"struct Policy", kPolicyFields};

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool is_host_name(std::string_view entry) {
  if (entry.size() >= 2 && entry.substr(0, 2) == "*.") entry.remove_prefix(2);
  if (entry.empty() || entry.size() > 253) return false;
  for (char c : entry) {
    const bool allowed = is_alnum(c) || c == '-' || c == '.' || c == ':' || c == '[' || c == ']';
    if (!allowed) return false;
  }
  return true;
}

bool is_command_name(std::string_view command) {
  if (command.empty() || command.size() > 64) return false;
  for (char c : command) {
    if (!is_alnum(c) && c != '-') return false;
  }
  return true;
}

Status check_hosts(const std::vector<std::string>& hosts) {
  for (const std::string& host : hosts) {
    if (!is_host_name(host))
      return fail("policy host " + json::debug_quote(host) + " is not a host name");
  }
  return {};
}

Status check_absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return {};
  return fail("policy path " + display_text(path) + " is not absolute");
}

Status check_all_absolute(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (auto status = check_absolute(path); !status) return status;
  }
  return {};
}

Status check_paths(const Policy& policy) {
  if (auto status = check_absolute(policy.cwd); !status) return status;
  for (const auto* list : {&policy.write, &policy.write_files, &policy.deny_write,
                           &policy.deny_read, &policy.deny_read_except, &policy.network.sockets}) {
    if (auto status = check_all_absolute(*list); !status) return status;
  }
  const auto& credentials = policy.network.credentials;
  if (!credentials) return {};
  if (auto status = check_absolute(credentials->socket); !status) return status;
  return check_absolute(credentials->certificates);
}

Status check_policy(const Policy& policy) {
  if (policy.version != kPolicyVersion) {
    return fail("policy version " + std::to_string(policy.version) +
                " is not supported; this launcher reads version " + std::to_string(kPolicyVersion));
  }
  const auto& credentials = policy.network.credentials;
  if (auto status = check_hosts(policy.network.allow); !status) return status;
  if (credentials) {
    if (auto status = check_hosts(credentials->hosts); !status) return status;
    if (!is_command_name(credentials->command)) {
      return fail("policy command " + json::debug_quote(credentials->command) +
                  " is not a command name");
    }
  }
  return check_paths(policy);
}

}  // namespace

Result<Policy> parse_policy(std::string_view text) {
  const json::Document document = json::parse(text);
  Decoder decoder(document);
  Policy policy;
  auto read = decoder.root([&](const Node& root) { return decoder.record(root, kPolicy, policy); });
  if (!read) return fail("invalid policy: " + json::format_error(document.text, read.error()));
  if (auto checked = check_policy(policy); !checked) return fail(checked.take_error());
  return policy;
}

}  // namespace kestrum::sandbox
