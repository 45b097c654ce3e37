#include "main/cli.h"

#include <gtest/gtest.h>

#include "main/permissions.h"
#include "support/fake_desktop.h"

namespace kestrum::computer {
namespace {

std::string show(const Command& command) {
  struct Show {
    std::string operator()(const UsageError&) const { return "usage"; }
    std::string operator()(const ShowHelp&) const { return "help"; }
    std::string operator()(const ShowVersion&) const { return "version"; }
    std::string operator()(const ProbePermissions&) const { return "probe"; }
    std::string operator()(const RequestPermission& r) const {
      return r.permission == Permission::kAccessibility ? "request accessibility"
                                                        : "request screen";
    }
    std::string operator()(const Serve& s) const {
      return "serve pid=" + (s.own.pid ? std::to_string(*s.own.pid) : "-") +
             " app=" + (s.own.app ? "[" + *s.own.app + "]" : "-");
    }
  };
  return std::visit(Show{}, command);
}

TEST(CommandLine, Commands) {
  const struct {
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {{}, "usage"},
      {{""}, "usage"},
      {{"Serve"}, "usage"},
      {{"--help"}, "help"},
      {{"--help", "extra"}, "help"},
      {{"--version", "x", "y"}, "version"},
      {{"probe"}, "probe"},
      {{"probe", "--bogus"}, "probe"},
      {{"request"}, "usage"},
      {{"request", "accessibility"}, "request accessibility"},
      {{"request", "screen"}, "request screen"},
      {{"request", "Screen"}, "usage"},
      {{"request", "screen", "extra"}, "usage"},
      {{"request", "camera"}, "usage"},
      {{"serve"}, "serve pid=- app=-"},
      {{"serve", "--own-pid"}, "usage"},
      {{"serve", "--own-pid", "12a"}, "usage"},
      {{"serve", "--own-pid", "-5"}, "serve pid=-5 app=-"},
      {{"serve", "--own-pid", "+7", "--own-pid", "8"}, "serve pid=8 app=-"},
      {{"serve", "--own-app", "a", "--own-app", "b"}, "serve pid=- app=[b]"},
      {{"serve", "--own-app", ""}, "serve pid=- app=[]"},
      {{"serve", "--own-app", "--own-pid"}, "serve pid=- app=[--own-pid]"},
      {{"serve", "--own-app", "x", "--own-pid"}, "usage"},
      {{"serve", "--own-pid", "1", "--verbose", "1"}, "usage"},
      {{"serve", "--OWN-PID", "1"}, "usage"},
      {{"serve", "\xff\xfe"}, "usage"},
      {{"serve", "--own-app", "\xff\xfe"}, "serve pid=- app=[\xff\xfe]"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& arg : c.args) joined += "[" + arg + "]";
    EXPECT_EQ(show(parse_command_line(c.args)), c.want) << joined;
  }
}

TEST(CommandLine, UsageText) {
  EXPECT_EQ(kUsage.size(), 149u);
  EXPECT_EQ(std::count(kUsage.begin(), kUsage.end(), '\n'), 2);
  EXPECT_TRUE(kUsage.starts_with("usage: "));
  EXPECT_EQ(kVersionLine, "kestrum-computer 0.1.0-beta.8\n");
}

TEST(Permissions, ReportAndPrompts) {
  testing::FakeDesktop desktop;
  desktop.capture_permission = false;
  desktop.input_permission = true;
  EXPECT_EQ(permission_report(desktop),
            "{\"permissions\":{\"capture\":false,\"input\":true},\"platform\":\"macos\"}\n");
  request_permission(desktop, Permission::kScreen);
  request_permission(desktop, Permission::kAccessibility);
  EXPECT_EQ(desktop.prompts, (std::vector<std::string>{"screen", "accessibility"}));
}

}  // namespace
}  // namespace kestrum::computer
