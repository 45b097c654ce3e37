#include "linux/pid_namespace.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>

#include "base/descriptors.h"
#include "base/exit.h"
#include "base/system_error.h"
#include "linux/mounts.h"
#include "linux/privileges.h"

namespace kestrum::sandbox {
namespace {

// What the launcher forwards; the supervisor and init pass them on.
constexpr int kForwarded[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCannotEnforce = 71;  // the backend's status when it cannot enforce

[[noreturn]] void give_up(std::string_view what) {
  exit_with_error("kestrum-seatbelt-linux: ", what, kCannotEnforce);
}

sigset_t waited_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kForwarded) sigaddset(&set, signal_number);
  sigaddset(&set, SIGCHLD);
  return set;
}

// The kernel drops signals whose action is the default before they reach a
// namespace's init, even blocked ones; with a handler they stay pending
// until init waits for them.
void pending(int) {}

void install_handlers(const sigset_t& set) {
  struct sigaction action {};
  action.sa_handler = pending;
  sigemptyset(&action.sa_mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&set, signal_number) == 1) ::sigaction(signal_number, &action, nullptr);
  }
}

// A signal from the terminal reaches the command directly, as a member of
// the foreground process group; passing it on as well would deliver it
// twice. What was sent with kill is passed on.
bool from_the_terminal(const siginfo_t& info) { return info.si_code == SI_KERNEL; }

// The supervisor ends the way the command did.
[[noreturn]] void mirror(int status) {
  if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
  const int signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
  ::signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);
}

[[noreturn]] void supervise(pid_t init, UniqueFd report, const sigset_t& set) {
  for (;;) {
    siginfo_t info{};
    const int signal_number = ::sigwaitinfo(&set, &info);
    if (signal_number < 0) continue;
    if (signal_number != SIGCHLD) {
      if (!from_the_terminal(info)) ::kill(init, signal_number);
      continue;
    }
    int init_status = 0;
    if (::waitpid(init, &init_status, WNOHANG) != init) continue;
    // Init ends only after reporting the command's status; without a
    // report it was killed, and its own status is the best there is.
    int status = 0;
    mirror(::read(report.get(), &status, sizeof status) == sizeof status ? status : init_status);
  }
}

[[noreturn]] void be_init(pid_t command, UniqueFd report, const sigset_t& set) {
  for (;;) {
    siginfo_t info{};
    const int signal_number = ::sigwaitinfo(&set, &info);
    if (signal_number < 0) continue;
    if (signal_number != SIGCHLD) {
      if (!from_the_terminal(info)) ::kill(command, signal_number);
      continue;
    }
    int status = 0;
    for (pid_t ended; (ended = ::waitpid(-1, &status, WNOHANG)) > 0;) {
      if (ended != command) continue;
      (void)!::write(report.get(), &status, sizeof status);
      ::_exit(0);
    }
  }
}

// Init follows the supervisor: should it be killed, the namespace ends.
bool follow(const UniqueFd& supervisor) {
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) return false;
  pollfd gone{supervisor.get(), POLLIN, 0};
  return ::poll(&gone, 1, 0) == 0;  // it may have ended before the line above
}

}  // namespace

Status run_in_own_pid_namespace() {
  const sigset_t set = waited_signals();
  sigset_t original;
  ::sigprocmask(SIG_BLOCK, &set, &original);
  install_handlers(set);
  UniqueFd supervisor(static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0u)));
  auto report = cloexec_pipe();
  if (!supervisor || !report)
    return fail("cannot start the command's process namespace: " + last_system_error_text());
  const pid_t init = ::fork();
  if (init < 0)
    return fail("cannot start the command's process namespace: " + last_system_error_text());
  if (init > 0) {
    report->write.reset();
    if (auto dropped = drop_privileges(); !dropped) give_up(dropped.error());
    supervise(init, std::move(report->read), set);
  }
  report->read.reset();
  if (!follow(supervisor)) give_up("the launcher ended while the command started");
  supervisor.reset();
  // Processes outside stay out of sight where the kernel allows a fresh
  // /proc; without one they stay visible as before, and out of reach.
  (void)mount_own_proc();
  const pid_t command = ::fork();
  if (command < 0) give_up("cannot start the command: " + last_system_error_text());
  if (command == 0) {
    report->write.reset();
    // The command starts with the dispositions and mask it was given.
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (sigismember(&set, signal_number) == 1) ::signal(signal_number, SIG_DFL);
    }
    ::sigprocmask(SIG_SETMASK, &original, nullptr);
    return {};
  }
  // Ending init ends the namespace, the command included.
  if (auto dropped = drop_privileges(); !dropped) give_up(dropped.error());
  be_init(command, std::move(report->write), set);
}

}  // namespace kestrum::sandbox
