#include "main/cli.h"

#include <algorithm>

#include "base/ascii.h"

namespace kestrum::sandbox {
namespace {

Command parse_run(const std::vector<std::string>& args) {
  // args[0] is "run". Only the first word that is exactly "--" separates;
  // later ones belong to the command.
  auto separator = std::find(args.begin() + 1, args.end(), "--");
  if (separator == args.end()) return UsageError{};
  const auto position = separator - args.begin();
  if (separator + 1 == args.end()) return UsageError{};

  RunRequest request;
  if (position == 3) {
    if (args[1] != "--policy") return UsageError{};
  } else if (position == 5) {
    if (args[1] != "--policy" || args[3] != "--events-fd") return UsageError{};
    request.events_fd = parse_decimal<std::int32_t>(args[4], Sign::kPlusOrMinus);
    if (!request.events_fd) return UsageError{};
  } else {
    return UsageError{};
  }
  request.policy_text = args[2];
  request.program = *(separator + 1);
  request.args.assign(separator + 2, args.end());
  return request;
}

bool starts_with_web_scheme(std::string_view word) {
  return word.starts_with("https://") || word.starts_with("http://");
}

}  // namespace

Command parse_command_line(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError{};
  const std::string& word = args[0];
  const std::size_t n = args.size();
  if (word == "run") return parse_run(args);
  if (word == "probe") return Probe{};
  if (word == "forget") {
    if (n > 2) return UsageError{};
    return Forget{n == 2 ? std::optional<std::string>(args[1]) : std::nullopt};
  }
  if (word == "--help") return ShowHelp{};
  if (word == "open-url") return n == 2 ? Command(OpenUrl{args[1]}) : UsageError{};
  if (n == 1 && starts_with_web_scheme(word)) return OpenUrl{word};
  if (word == "--version") return ShowVersion{};
  return UsageError{};
}

}  // namespace kestrum::sandbox
