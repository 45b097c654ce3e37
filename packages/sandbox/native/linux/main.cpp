// kestrum-seatbelt-linux: the launcher's sandbox tool on Linux. It takes
// the macOS tool's command line ("-p" PROFILE PROGRAM [ARGS...]), enforces
// the profile with namespaces, Landlock and a system call filter, and then
// becomes PROGRAM. Anything it cannot enforce stops it before PROGRAM runs.
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "base/exit.h"
#include "base/system_error.h"
#include "linux/files.h"
#include "linux/landlock.h"
#include "linux/mounts.h"
#include "linux/namespace_relay.h"
#include "linux/pid_namespace.h"
#include "linux/plan.h"
#include "linux/privileges.h"
#include "linux/profile_reader.h"
#include "linux/seccomp_filter.h"

namespace {

using namespace kestrum;
using namespace kestrum::sandbox;

constexpr int kUsage = 64;
constexpr int kRefused = 65;
constexpr int kCannotEnforce = 71;
constexpr int kCannotExecute = 126;
constexpr int kNotFound = 127;

[[noreturn]] void stop(int status, std::string_view message) {
  exit_with_error("kestrum-seatbelt-linux: ", message, status);
}

Status check_kernel() {
  if (auto abi = landlock_abi(); !abi) return fail(abi.take_error());
  if (::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) < 0)
    return fail("seccomp is not available: " + last_system_error_text());
  return {};
}

Result<std::string> working_folder() {
  char path[PATH_MAX];
  if (::getcwd(path, sizeof path) == nullptr)
    return fail("cannot find the working folder: " + last_system_error_text());
  return std::string(path);
}

// Everything between reading the profile and running the command; any
// failure leaves the command unstarted.
Status enforce(const Plan& plan) {
  auto cwd = working_folder();
  if (!cwd) return fail(cwd.take_error());
  UniqueFd relay;
  if (plan.network.namespace_relay_port) {
    auto channel = start_namespace_relay(*plan.network.namespace_relay_port);
    if (!channel) return fail(channel.take_error());
    relay = std::move(channel).value();
  }
  if (auto status = enter_namespaces(plan.network.own_namespace); !status) return status;
  if (auto status = apply_mounts(plan.mounts); !status) return status;
  if (plan.network.own_namespace) {
    if (auto status = bring_loopback_up(); !status) return status;
  }
  if (relay) {
    if (auto status = hand_over_listener(relay, *plan.network.namespace_relay_port); !status)
      return status;
    relay.reset();
  }
  // The old working folder is the mount underneath the new ones.
  if (::chdir(cwd->c_str()) != 0) return fail(path_error("cannot enter", *cwd));
  // Only the process that becomes the command comes back.
  if (auto status = run_in_own_pid_namespace(); !status) return status;
  if (auto status = drop_privileges(); !status) return status;
  if (auto status = restrict_with_landlock(plan.grants, plan.network); !status) return status;
  return load_seccomp_filter(plan.network);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[1], "-p") != 0)
    stop(kUsage, "usage: kestrum-seatbelt-linux -p <profile> <program> [args...]");
  // A descriptor inherited from outside was opened without the sandbox's
  // rules and would keep whatever access it had.
  if (::close_range(3, ~0u, 0) != 0) stop(kCannotEnforce, "cannot close inherited descriptors");
  auto rules = read_profile(argv[2]);
  if (!rules) stop(kRefused, "refused profile: " + rules.error());
  if (auto status = check_kernel(); !status) stop(kCannotEnforce, status.error());
  auto plan = make_plan(*rules, SystemFileView{});
  if (!plan) stop(kCannotEnforce, plan.error());
  if (auto status = enforce(*plan); !status) stop(kCannotEnforce, status.error());
  ::execvp(argv[3], argv + 3);
  const int error = errno;
  stop(error == ENOENT ? kNotFound : kCannotExecute,
       std::string(argv[3]) + ": " + system_error_text(error));
}
