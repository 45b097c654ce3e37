#include "main/cli.h"

#include "base/ascii.h"

namespace kestrum::computer {
namespace {

struct PermissionWord {
  std::string_view word;
  Permission permission;
};
constexpr PermissionWord kPermissionWords[] = {
    {"accessibility", Permission::kAccessibility},
    {"screen", Permission::kScreen},
};

Command parse_request_command(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError{};
  for (const PermissionWord& entry : kPermissionWords) {
    if (args[1] == entry.word) return RequestPermission{entry.permission};
  }
  return UsageError{};
}

// Name-value pairs from the front; the last value of each option wins, and
// a value is taken as a value whatever it looks like.
Command parse_serve_command(const std::vector<std::string>& args) {
  Serve serve;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return UsageError{};
    const std::string& name = args[i];
    const std::string& value = args[i + 1];
    if (name == "--own-app") {
      serve.own.app = value;
    } else if (name == "--own-pid") {
      serve.own.pid = parse_decimal<std::int64_t>(value, Sign::kPlusOrMinus);
      if (!serve.own.pid) return UsageError{};
    } else {
      return UsageError{};
    }
  }
  return serve;
}

}  // namespace

Command parse_command_line(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError{};
  const std::string& command = args[0];
  if (command == "serve") return parse_serve_command(args);
  if (command == "probe") return ProbePermissions{};
  if (command == "request") return parse_request_command(args);
  if (command == "--help") return ShowHelp{};
  if (command == "--version") return ShowVersion{};
  return UsageError{};
}

}  // namespace kestrum::computer
