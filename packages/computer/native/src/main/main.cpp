// kestrum-computer: the entry point. Only this file and the serve loop end
// the process.
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "base/io.h"
#include "desktop/desktop.h"
#include "desktop/program.h"
#include "main/cli.h"
#include "main/permissions.h"
#include "main/serve_start.h"

namespace {

using namespace kestrum::computer;

[[noreturn]] void print_and_exit(std::string_view text) {
  kestrum::print(STDOUT_FILENO, text);
  kestrum::exit_process(0);
}

struct Dispatch {
  [[noreturn]] void operator()(const UsageError&) const { exit_with_error(kUsage); }
  [[noreturn]] void operator()(const ShowHelp&) const {
    print_and_exit(std::string(kUsage) + "\n");
  }
  [[noreturn]] void operator()(const ShowVersion&) const { print_and_exit(kVersionLine); }
  [[noreturn]] void operator()(const ProbePermissions&) const {
    print_and_exit(permission_report(*make_platform_desktop()));
  }
  [[noreturn]] void operator()(const RequestPermission& request) const {
    const std::unique_ptr<Desktop> desktop = make_platform_desktop();
    request_permission(*desktop, request.permission);
    print_and_exit(permission_report(*desktop));
  }
  [[noreturn]] void operator()(const Serve& serve) const {
    // Never freed: the serve loop uses it until the process ends.
    Desktop* desktop = make_platform_desktop().release();
    auto served = run_server(*desktop, serve.own);
    if (!served) exit_with_error(served.error());
    kestrum::exit_process(0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!kestrum::open_missing_standard_descriptors()) kestrum::exit_process(1);
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  std::visit(Dispatch{}, parse_command_line(args));
}
