// The launcher's command line, decided without side effects: what to do and
// with which words. The entry point carries it out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrum::sandbox {

inline constexpr std::string_view kVersion = "0.1.0-beta.8";

inline constexpr std::string_view kUsage =
    "usage: kestrum-sandbox run --policy <json> [--events-fd <fd>] -- <program> [args...]\n"
    "       kestrum-sandbox probe\n"
    "       kestrum-sandbox forget [<folder>]\n"
    "       kestrum-sandbox open-url <url>";

struct RunRequest {
  std::string policy_text;
  std::optional<std::int32_t> events_fd;
  std::string program;
  std::vector<std::string> args;
};

struct UsageError {};
struct ShowHelp {};
struct ShowVersion {};
struct Probe {};
struct Forget {
  std::optional<std::string> folder;
};
struct OpenUrl {
  std::string url;
};

using Command = std::variant<UsageError, ShowHelp, ShowVersion, RunRequest, Probe, Forget, OpenUrl>;

// `args` are the words after the program name.
Command parse_command_line(const std::vector<std::string>& args);

}  // namespace kestrum::sandbox
