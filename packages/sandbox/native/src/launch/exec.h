// Replacing a process with the sandbox tool running the command. Everything
// that allocates is done first, by prepare_exec in the launcher; what is
// left (entering the folder, restoring what the launcher changed for itself,
// the exec) is async-signal-safe, so it may run in a child forked while other
// threads run.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "policy/policy.h"

namespace kestrum::sandbox {

struct LaunchCommand {
  std::string program;
  std::vector<std::string> args;
  // The core-file limit the command gets, when the launcher lowered its own.
  std::optional<rlimit> core_limit;
};

// The tool's command line, the command's environment and working folder,
// ready for execve. Move-only: the pointer lists point into the strings.
class PreparedExec {
 public:
  PreparedExec(std::string tool, std::vector<std::string> argv,
               std::vector<std::string> environment, std::string cwd,
               std::optional<rlimit> core_limit);
  PreparedExec(PreparedExec&&) = default;
  PreparedExec& operator=(PreparedExec&&) = default;
  PreparedExec(const PreparedExec&) = delete;
  PreparedExec& operator=(const PreparedExec&) = delete;

  // "could not start <tool>: " + the system's error text for `error`.
  std::string failure(int error) const;

  // Only async-signal-safe calls. Enters the working folder, gives SIGPIPE
  // its default action and the command its core limit, and execs the tool.
  // Returns only on failure, with the error number of the step that failed.
  int try_exec() const noexcept;

 private:
  std::string tool_;
  std::vector<std::string> argv_;
  std::vector<std::string> environment_;
  std::string cwd_;
  std::optional<rlimit> core_limit_;
  std::vector<char*> argv_pointers_;
  std::vector<char*> environment_pointers_;
};

// Builds the environment and the profile (with the proxy's `port`, when it
// runs) and the tool's command line: `tool`, "-p", the profile, the program,
// its arguments. Fails with "could not start <tool>: nul byte found in
// provided data" when any of them holds a NUL.
Result<PreparedExec> prepare_exec(const PreparedPolicy& policy, std::string_view tool,
                                  const LaunchCommand& command, std::optional<std::uint16_t> port);

// The launcher becomes the tool. Returns only when the start failed, with
// "could not start <tool>: <reason>", SIGPIPE ignored again.
Status exec_in_place(const PreparedExec& exec);

// For a forked child: execs, or writes the failing step's error number to
// `report_fd` and ends the child with status 125.
[[noreturn]] void exec_prepared(const PreparedExec& exec, int report_fd) noexcept;

}  // namespace kestrum::sandbox
