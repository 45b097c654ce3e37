// The environment the sandboxed command starts with: the launcher's own,
// filtered by the policy, with the proxy and certificate variables the
// launcher controls put in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "policy/policy.h"

namespace kestrum::sandbox {

// A name and a value, bytes as the system holds them.
using EnvEntry = std::pair<std::string, std::string>;

inline constexpr std::string_view kDefaultCertificateBundle = "/etc/ssl/cert.pem";

// The calling process's environment in the system's order, each entry split
// at its first "="; entries without one are not variables and are skipped.
std::vector<EnvEntry> launcher_environment();

// A denyEnv pattern against a name, both compared with ASCII letters
// lowercased; "*" stands for any run of characters, the empty one included.
bool env_pattern_matches(std::string_view name, std::string_view pattern);

// The command's entries, in order, before duplicates are resolved. Names are
// matched as text (invalid UTF-8 replaced) but copied as the bytes given.
// `port` is the loopback proxy's, when it runs.
std::vector<EnvEntry> child_environment(const PreparedPolicy& policy,
                                        std::optional<std::uint16_t> port,
                                        const std::vector<EnvEntry>& launcher_env);

// The "NAME=value" strings for exec: the later of two entries with one name
// wins, each name appears once, names in byte order.
std::vector<std::string> finalize_environment(const std::vector<EnvEntry>& entries);

}  // namespace kestrum::sandbox
