// The command line of kestrum-computer: which command, with which options.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "desktop/lookups.h"

namespace kestrum::computer {

inline constexpr std::string_view kUsage =
    "usage: kestrum-computer serve [--own-pid <pid>] [--own-app <id>]\n"
    "       kestrum-computer probe\n"
    "       kestrum-computer request <accessibility|screen>";
inline constexpr std::string_view kVersionLine = "kestrum-computer 0.1.0-beta.8\n";

enum class Permission { kAccessibility, kScreen };

struct UsageError {};
struct ShowHelp {};
struct ShowVersion {};
struct ProbePermissions {};
struct RequestPermission {
  Permission permission = Permission::kAccessibility;
};
struct Serve {
  OwnIdentity own;
};

using Command =
    std::variant<UsageError, ShowHelp, ShowVersion, ProbePermissions, RequestPermission, Serve>;

// `args` are the arguments after the program name, compared exactly.
Command parse_command_line(const std::vector<std::string>& args);

}  // namespace kestrum::computer
