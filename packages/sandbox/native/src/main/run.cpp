#include "main/run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "launch/exec.h"
#include "launch/supervise.h"
#include "proxy/server.h"

namespace kestrum::sandbox {

static bool needs_proxy(const PreparedPolicy& policy, const RunRequest& request) {
  return !policy.network.allow.empty() || policy.network.open || request.events_fd.has_value();
}

// The launcher holds the person's secrets in its environment. It writes no
// core file, and on Linux it is not dumpable, so that no other process of
// its user reads its memory or environment through /proc. The command gets
// the core limit the launcher was given.
static rlimit protect_launcher_memory() {
  rlimit given{};
  ::getrlimit(RLIMIT_CORE, &given);
  rlimit none = given;
  none.rlim_cur = 0;
  ::setrlimit(RLIMIT_CORE, &none);
#if defined(__linux__)
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  return given;
}

// A folder as a standard descriptor would be a way around the sandbox: the
// command could open files relative to it (openat), and a descriptor opened
// outside keeps the access it was opened with.
static Status refuse_folders_as_standard_descriptors() {
  constexpr std::string_view kNames[] = {"standard input", "standard output", "standard error"};
  for (int fd = 0; fd < 3; ++fd) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
      return fail(std::string(kNames[fd]) + " is a folder");
  }
  return {};
}

Status run(const RunRequest& request, std::string_view tool) {
  const rlimit core_limit = protect_launcher_memory();
  auto policy = parse_policy(request.policy_text);
  if (!policy) return fail(policy.error());
  auto prepared = prepare_policy(*policy);
  if (!prepared) return fail(prepared.error());
  if (auto refused = refuse_folders_as_standard_descriptors(); !refused) return refused;
  const LaunchCommand command{request.program, request.args, core_limit};
  if (!needs_proxy(*prepared, request)) {
    auto exec = prepare_exec(*prepared, tool, command, std::nullopt);
    if (!exec) return fail(exec.error());
    return exec_in_place(*exec);
  }
  auto proxy = open_proxy(request.events_fd);
  if (!proxy) return fail(proxy.error());
  auto exec = prepare_exec(*prepared, tool, command, proxy->port);
  if (!exec) return fail(exec.error());
  return supervise(*exec, [&] { return serve_proxy(std::move(*proxy), prepared->network); });
}

}  // namespace kestrum::sandbox
