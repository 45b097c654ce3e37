// The Seatbelt profile for a prepared policy. Seatbelt lets the later of two
// matching rules win, so the order of the lines carries meaning: every deny
// follows the allow it narrows, and the exceptions follow the hidden folders
// they pierce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "policy/policy.h"

namespace kestrum::sandbox {

// The profile's lines joined by "\n", without a newline after the last.
// `port` is the loopback proxy's port, the only network address the command
// may reach besides the policy's sockets. Never fails; reads nothing but its
// inputs, so it is safe in a freshly forked child.
std::string build_profile(const PreparedPolicy& policy, std::optional<std::uint16_t> port);

// A profile string literal: backslashes doubled, then a backslash before
// every double quote, the whole in double quotes. `text` must already be
// valid UTF-8 (see display_text).
std::string sbpl_quote(std::string_view text);

// A backslash before each of the 14 characters \ . ^ $ | ? * + ( ) [ ] { }.
std::string regex_escape(std::string_view text);

}  // namespace kestrum::sandbox
