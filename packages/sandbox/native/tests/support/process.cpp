#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace kestrum::testing {
namespace {

// Drains stdout and stderr together so that neither pipe can fill up and
// stall the child. The child's standard input is at its end from the start.
void pump(Child& child, std::string& out_text, std::string& err_text) {
  child.close_input();
  std::string* texts[2] = {&out_text, &err_text};
  while (child.output() >= 0 || child.errors() >= 0) {
    pollfd fds[2] = {{child.output(), POLLIN, 0}, {child.errors(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) texts[i]->append(buffer, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) i == 0 ? child.close_output() : child.close_errors();
    }
  }
}

ChildOptions child_options(const ProcessOptions& options, int record_fd) {
  ChildOptions child;
  child.argv = options.argv;
  child.env = options.env;
  child.inherit = options.inherit;
  // Descriptor 3 is the recording stand-in's channel.
  if (record_fd >= 0) child.inherit.insert(child.inherit.begin(), {3, record_fd});
  return child;
}

}  // namespace

Process::Process(const ProcessOptions& options)
    : record_([&] {
        RecordFile record;
        if (!options.record) return record;
        char path[] = "/tmp/kestrum-record-XXXXXX";
        record.fd.reset(::mkostemp(path, O_CLOEXEC));
        if (!record.fd) throw std::runtime_error("mkstemp failed");
        record.path = path;
        return record;
      }()),
      child_(child_options(options, record_.fd.get())) {}

Process::~Process() {
  if (!record_.path.empty()) ::unlink(record_.path.c_str());
}

ProcessResult Process::wait() {
  ProcessResult result;
  result.pid = child_.pid();
  pump(child_, result.out, result.err);
  const ChildStatus status = child_.wait();
  result.exited = status.exited;
  result.exit_code = status.exit_code;
  result.signal = status.signal;
  if (record_.fd) {
    record_.fd.reset();
    result.record = read_file(record_.path);
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

}  // namespace kestrum::testing
