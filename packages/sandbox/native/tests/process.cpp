#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kestrum::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Feeds stdin and drains stdout and stderr together so that neither pipe can
// fill up and stall the child.
void pump(int in, std::string_view input, int out, std::string& out_text, int err,
          std::string& err_text) {
  if (input.empty()) {
    ::close(in);
    in = -1;
  }
  while (out >= 0 || err >= 0 || in >= 0) {
    pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char buffer[65536];
    int* read_ends[2] = {&out, &err};
    std::string* texts[2] = {&out_text, &err_text};
    for (int i = 0; i < 2; ++i) {
      if (*read_ends[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(*read_ends[i], buffer, sizeof buffer);
      if (n > 0) texts[i]->append(buffer, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) {
        ::close(*read_ends[i]);
        *read_ends[i] = -1;
      }
    }
    if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = ::write(in, input.data(), input.size());
      if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
      if (n < 0 || input.empty()) {
        ::close(in);
        in = -1;
      }
    }
  }
}

}  // namespace

Process::Process(const ProcessOptions& options) : stdin_data_(options.stdin_data) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  if (options.record) {
    char record_path[] = "/tmp/kestrum-record-XXXXXX";
    record_fd_ = ::mkstemp(record_path);
    if (record_fd_ < 0) throw std::runtime_error("mkstemp failed");
    record_path_ = record_path;
  }
  std::vector<std::string> argv = options.argv;
  std::vector<std::string> env;
  if (options.env)
    env = *options.env;
  else
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
  auto argv_ptrs = pointers(argv);
  auto env_ptrs = pointers(env);

  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    // dup2 clears close-on-exec, so these survive into the child.
    // Descriptor 3 is the recording stand-in's channel: never hand it
    // whatever the test runner happened to leave open there.
    if (record_fd_ >= 0)
      ::dup2(record_fd_, 3);
    else
      ::close(3);
    for (auto [child_fd, parent_fd] : options.inherit) {
      // dup2 onto itself keeps close-on-exec; clear it by hand then.
      if (child_fd == parent_fd)
        ::fcntl(child_fd, F_SETFD, 0);
      else
        ::dup2(parent_fd, child_fd);
    }
    ::execve(argv_ptrs[0], argv_ptrs.data(), env_ptrs.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
}

Process::~Process() {
  if (!waited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

ProcessResult Process::wait() {
  ProcessResult result;
  result.pid = pid_;
  pump(in_, stdin_data_, out_, result.out, err_, result.err);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (record_fd_ >= 0) {
    ::close(record_fd_);
    result.record = read_file(record_path_);
    ::unlink(record_path_.c_str());
  }
  return result;
}

ProcessResult run_process(const ProcessOptions& options) { return Process(options).wait(); }

ProcessResult run_process(std::vector<std::string> argv,
                          std::optional<std::vector<std::string>> env) {
  ProcessOptions options;
  options.argv = std::move(argv);
  options.env = std::move(env);
  return run_process(options);
}

std::string bin_dir() {
  char path[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw std::runtime_error("cannot find own executable");
  return std::filesystem::path(std::string(path, static_cast<std::size_t>(n))).parent_path();
}

std::vector<std::pair<std::string, std::string>> parse_record(const std::string& record) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::size_t at = 0;
  while (at < record.size()) {
    const std::size_t space1 = record.find(' ', at);
    const std::size_t space2 = record.find(' ', space1 + 1);
    if (space1 == std::string::npos || space2 == std::string::npos) break;
    const std::size_t length = std::stoul(record.substr(space1 + 1, space2 - space1 - 1));
    entries.emplace_back(record.substr(at, space1 - at), record.substr(space2 + 1, length));
    at = space2 + 1 + length + 1;
  }
  return entries;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/kestrum-test-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace kestrum::testing
