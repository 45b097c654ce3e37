#include "launch/supervise.h"

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>

#include "base/descriptors.h"
#include "base/system_error.h"

namespace kestrum::sandbox {
namespace {

constexpr int kForwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kLauncherFailure = 125;

sigset_t forwarded_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kForwardedSignals) sigaddset(&set, signal_number);
  return set;
}

bool start_forwarding(pid_t child, const sigset_t& forwarded) {
  try {
    std::thread([child, forwarded] {
      while (true) {
        int signal_number = 0;
        if (sigwait(&forwarded, &signal_number) == 0) ::kill(child, signal_number);
      }
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int wait_for(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) ::_exit(kLauncherFailure);
  }
  return status;
}

[[noreturn]] void mirror(int status) {
  if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
  const int signal_number = WTERMSIG(status);
  // Die the same way, so the outer product sees what happened to the
  // command. Directed at this thread: the forwarding thread waits for some of
  // these signals and must not swallow it.
  std::signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  pthread_kill(pthread_self(), signal_number);
  ::_exit(128 + signal_number);
}

}  // namespace

Status supervise(const PreparedExec& exec, const std::function<Status()>& serve) {
  // The child reports a failed start through this pipe; a successful exec
  // closes it empty.
  auto report = cloexec_pipe();
  if (!report) return fail("could not fork: " + system_error_text(report.error()));
  auto& [report_read, report_write] = *report;

  // Blocked before the fork so that no signal can reach the launcher between
  // the fork and the forwarding thread's start; the child restores the mask.
  const sigset_t forwarded = forwarded_set();
  sigset_t original_mask;
  pthread_sigmask(SIG_BLOCK, &forwarded, &original_mask);
  const pid_t child = ::fork();
  if (child < 0) {
    const std::string reason = last_system_error_text();
    pthread_sigmask(SIG_SETMASK, &original_mask, nullptr);
    return fail("could not fork: " + reason);
  }
  if (child == 0) {
    pthread_sigmask(SIG_SETMASK, &original_mask, nullptr);
    exec_prepared(exec, report_write.get());
  }
  report_write.reset();

  Status served = start_forwarding(child, forwarded)
                      ? serve()
                      : fail("could not start the proxy: no thread could be started");
  if (!served) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return served;
  }
  const int status = wait_for(child);
  int error = 0;
  if (::read(report_read.get(), &error, sizeof error) == sizeof error) {
    return fail(exec.failure(error));
  }
  mirror(status);
}

}  // namespace kestrum::sandbox
