#include "policy/launch.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "base/system_error.h"
#include "policy/environment.h"
#include "policy/path.h"
#include "policy/profile.h"

namespace kestrum::sandbox {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

Status launch(const PreparedPolicy& policy, std::string_view tool, const LaunchCommand& command,
              std::optional<std::uint16_t> port) {
  const std::string failure = "could not start " + std::string(tool) + ": ";
  std::vector<std::string> environment =
      finalize_environment(child_environment(policy, port, launcher_environment()));
  std::vector<std::string> argv = {std::string(tool), "-p", build_profile(policy, port),
                                   command.program};
  argv.insert(argv.end(), command.args.begin(), command.args.end());

  for (const auto& text : argv) {
    if (holds_nul(text)) return fail(failure + "nul byte found in provided data");
  }
  for (const auto& entry : environment) {
    if (holds_nul(entry)) return fail(failure + "nul byte found in provided data");
  }
  if (::chdir(policy.cwd.c_str()) != 0) return fail(failure + last_system_error_text());

  // The launcher ignores SIGPIPE for itself; an ignored disposition would
  // survive exec and change how the command behaves on closed pipes.
  std::signal(SIGPIPE, SIG_DFL);
  if (command.core_limit) ::setrlimit(RLIMIT_CORE, &*command.core_limit);
  std::string tool_path(tool);
  ::execve(tool_path.c_str(), pointers(argv).data(), pointers(environment).data());
  const std::string reason = last_system_error_text();
  std::signal(SIGPIPE, SIG_IGN);
  return fail(failure + reason);
}

}  // namespace kestrum::sandbox
