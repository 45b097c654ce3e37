#include "testing/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <stdexcept>

#include "base/descriptors.h"

extern char** environ;

namespace kestrum::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Closes the descriptors from `first` to `last`. Runs between fork and exec,
// so only system calls.
void close_between(int first, int last) {
#if defined(__linux__)
  ::close_range(static_cast<unsigned int>(first), static_cast<unsigned int>(last), 0);
#else
  for (int fd = first; fd <= last; ++fd) ::close(fd);
#endif
}

// Closes every descriptor above 2 but the sorted `keep`; `open_max` is the
// descriptor limit, read before the fork.
void close_all_but(const std::vector<int>& keep, int open_max) {
  int from = 3;
  for (int fd : keep) {
    if (fd < from) continue;
    if (fd > from) close_between(from, fd - 1);
    from = fd + 1;
  }
  close_between(from, open_max - 1);
}

}  // namespace

Pipe::Pipe() {
  auto ends = cloexec_pipe();
  if (!ends) throw std::runtime_error("pipe failed");
  read_end = std::move(ends->read);
  write_end = std::move(ends->write);
}

Child::Child(const ChildOptions& options) {
  Pipe out, err;
  std::optional<Pipe> in;
  if (options.stdin_fd < 0) in.emplace();
  std::vector<std::string> argv = options.argv;
  std::vector<std::string> env;
  if (options.env)
    env = *options.env;
  else
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
  auto argv_pointers = pointers(argv);
  auto env_pointers = pointers(env);
  std::vector<int> keep;
  for (auto [child_fd, parent_fd] : options.inherit) keep.push_back(child_fd);
  std::sort(keep.begin(), keep.end());
  // A descriptor to pass on may have the number another one is placed at:
  // each is first moved above every target.
  std::vector<std::pair<int, int>> inherit = options.inherit;
  const int above = keep.empty() ? 3 : std::max(3, keep.back() + 1);
  const long limit = ::sysconf(_SC_OPEN_MAX);
  const int open_max = limit > 0 && limit < INT_MAX ? static_cast<int>(limit) : INT_MAX;

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    for (auto& [child_fd, parent_fd] : inherit) parent_fd = ::fcntl(parent_fd, F_DUPFD, above);
    // dup2 clears close-on-exec, so these survive into the child.
    ::dup2(in ? in->read_end.get() : options.stdin_fd, 0);
    ::dup2(out.write_end.get(), 1);
    ::dup2(err.write_end.get(), 2);
    for (auto [child_fd, parent_fd] : inherit) ::dup2(parent_fd, child_fd);
    close_all_but(keep, open_max);
    if (options.close_stdin) ::close(0);
    if (options.close_stdout) ::close(1);
    ::execve(argv_pointers[0], argv_pointers.data(), env_pointers.data());
    ::_exit(127);
  }
  if (in) in_ = std::move(in->write_end);
  out_ = std::move(out.read_end);
  err_ = std::move(err.read_end);
}

Child::~Child() {
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

ChildStatus Child::wait() {
  // A second waitpid would find no child and read as a clean exit.
  if (status_) return *status_;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  ChildStatus result;
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  status_ = result;
  return result;
}

}  // namespace kestrum::testing
