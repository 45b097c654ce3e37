// kestrum-sandbox: the entry point. Only this file prints error lines and
// chooses exit statuses.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main/cli.h"
#include "main/probe.h"
#include "main/run.h"
#include "main/tool_path.h"
#include "proxy/open_url.h"

namespace {

using namespace kestrum::sandbox;

constexpr int kLauncherFailure = 125;

// Later output must never land on an unrelated descriptor that happens to
// take number 0, 1 or 2.
void open_missing_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      if (::open("/dev/null", O_RDWR) == -1) std::_Exit(kLauncherFailure);
    }
  }
}

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

[[noreturn]] void exit_with_error(std::string_view message) {
  write_all(STDERR_FILENO, "kestrum-sandbox: " + std::string(message) + "\n");
  std::exit(kLauncherFailure);
}

[[noreturn]] void finish(const kestrum::Status& status) {
  if (!status) exit_with_error(status.error());
  std::exit(0);
}

struct Dispatch {
  [[noreturn]] void operator()(const UsageError&) const { exit_with_error(kUsage); }
  [[noreturn]] void operator()(const ShowHelp&) const {
    write_all(STDOUT_FILENO, std::string(kUsage) + "\n");
    std::exit(0);
  }
  [[noreturn]] void operator()(const ShowVersion&) const {
    write_all(STDOUT_FILENO, "kestrum-sandbox " + std::string(kVersion) + "\n");
    std::exit(0);
  }
  [[noreturn]] void operator()(const RunRequest& request) const {
    finish(run(request, sandbox_tool_path()));
  }
  [[noreturn]] void operator()(const Probe&) const { finish(run_probe(sandbox_tool_path())); }
  // Nothing is kept between runs, so there is nothing to forget.
  [[noreturn]] void operator()(const Forget&) const { std::exit(0); }
  [[noreturn]] void operator()(const OpenUrl& request) const { finish(open_url(request.args)); }
};

}  // namespace

int main(int argc, char** argv) {
  open_missing_standard_descriptors();
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  std::visit(Dispatch{}, parse_command_line(args));
}
