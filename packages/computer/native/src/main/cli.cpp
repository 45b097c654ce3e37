#include "main/cli.h"

#include <limits>

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
      serve.own.pid = parse_pid(value);
      if (!serve.own.pid) return UsageError{};
    } else {
      return UsageError{};
    }
  }
  return serve;
}

}  // namespace

std::optional<std::int64_t> parse_pid(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulated as a magnitude so that the most negative value fits.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(0 - magnitude);
}

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
