// kestrum-sandbox: the entry point. Only this file prints error lines and
// chooses exit statuses.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/exit.h"
#include "base/io.h"
#include "main/cli.h"
#include "main/probe.h"
#include "main/run.h"
#include "main/tool_path.h"
#include "proxy/open_url.h"

namespace {

using namespace kestrum::sandbox;

using kestrum::print;

constexpr int kLauncherFailure = 125;
constexpr std::string_view kErrorPrefix = "kestrum-sandbox: ";

[[noreturn]] void exit_with_error(std::string_view message) {
  kestrum::print_error(kErrorPrefix, message);
  std::exit(kLauncherFailure);
}

[[noreturn]] void finish(const kestrum::Status& status) {
  if (!status) exit_with_error(status.error());
  std::exit(0);
}

struct Dispatch {
  [[noreturn]] void operator()(const UsageError&) const { exit_with_error(kUsage); }
  [[noreturn]] void operator()(const ShowHelp&) const {
    print(STDOUT_FILENO, std::string(kUsage) + "\n");
    std::exit(0);
  }
  [[noreturn]] void operator()(const ShowVersion&) const {
    print(STDOUT_FILENO, "kestrum-sandbox " + std::string(kVersion) + "\n");
    std::exit(0);
  }
  [[noreturn]] void operator()(const RunRequest& request) const {
    finish(run(request, sandbox_tool_path()));
  }
  [[noreturn]] void operator()(const Probe&) const { finish(run_probe(sandbox_tool_path())); }
  // Nothing is kept between runs, so there is nothing to forget.
  [[noreturn]] void operator()(const Forget&) const { std::exit(0); }
  [[noreturn]] void operator()(const OpenUrl& request) const { finish(open_url(request.url)); }
};

}  // namespace

int main(int argc, char** argv) {
  if (!kestrum::open_missing_standard_descriptors()) std::_Exit(kLauncherFailure);
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  std::visit(Dispatch{}, parse_command_line(args));
}
