#include "launch/exec.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/system_error.h"
#include "policy/environment.h"
#include "policy/path.h"
#include "policy/profile.h"

namespace kestrum::sandbox {
namespace {

constexpr int kLauncherFailure = 125;

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

void set_sigpipe(void (*action)(int)) {
  struct sigaction disposition {};
  disposition.sa_handler = action;
  sigemptyset(&disposition.sa_mask);
  ::sigaction(SIGPIPE, &disposition, nullptr);
}

}  // namespace

PreparedExec::PreparedExec(std::string tool, std::vector<std::string> argv,
                           std::vector<std::string> environment, std::string cwd,
                           std::optional<rlimit> core_limit)
    : tool_(std::move(tool)),
      argv_(std::move(argv)),
      environment_(std::move(environment)),
      cwd_(std::move(cwd)),
      core_limit_(core_limit),
      argv_pointers_(pointers(argv_)),
      environment_pointers_(pointers(environment_)) {}

std::string PreparedExec::failure(int error) const {
  return "could not start " + tool_ + ": " + system_error_text(error);
}

int PreparedExec::try_exec() const noexcept {
  if (::chdir(cwd_.c_str()) != 0) return errno;
  // The launcher ignores SIGPIPE for itself; an ignored disposition would
  // survive exec and change how the command behaves on closed pipes.
  set_sigpipe(SIG_DFL);
  if (core_limit_) ::setrlimit(RLIMIT_CORE, &*core_limit_);
  ::execve(argv_[0].c_str(), argv_pointers_.data(), environment_pointers_.data());
  return errno;
}

Result<PreparedExec> prepare_exec(const PreparedPolicy& policy, std::string_view tool,
                                  const LaunchCommand& command, std::optional<std::uint16_t> port) {
  std::vector<std::string> environment =
      finalize_environment(child_environment(policy, port, launcher_environment()));
  std::vector<std::string> argv = {std::string(tool), "-p", build_profile(policy, port),
                                   command.program};
  argv.insert(argv.end(), command.args.begin(), command.args.end());
  for (const auto* list : {&argv, &environment}) {
    for (const auto& text : *list) {
      if (holds_nul(text)) {
        return fail("could not start " + std::string(tool) + ": nul byte found in provided data");
      }
    }
  }
  return PreparedExec(std::string(tool), std::move(argv), std::move(environment), policy.cwd,
                      command.core_limit);
}

Status exec_in_place(const PreparedExec& exec) {
  const int error = exec.try_exec();
  set_sigpipe(SIG_IGN);
  return fail(exec.failure(error));
}

void exec_prepared(const PreparedExec& exec, int report_fd) noexcept {
  const int error = exec.try_exec();
  (void)!::write(report_fd, &error, sizeof error);
  ::_exit(kLauncherFailure);
}

}  // namespace kestrum::sandbox
