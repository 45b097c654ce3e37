#include "testing/child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrum::testing {
namespace {

std::string read_to_end(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

ChildOptions command(std::vector<std::string> argv) {
  ChildOptions options;
  options.argv = std::move(argv);
  return options;
}

TEST(Child, ReportsHowTheProgramEnded) {
  struct Case {
    const char* script;
    bool exited;
    int exit_code;
    int signal;
  };
  const Case cases[] = {
      {"exit 0", true, 0, 0}, {"exit 3", true, 3, 0}, {"kill -TERM $$", false, -1, 15}};
  for (const auto& c : cases) {
    Child child(command({"/bin/sh", "-c", c.script}));
    const ChildStatus status = child.wait();
    EXPECT_EQ(status.exited, c.exited) << c.script;
    EXPECT_EQ(status.exit_code, c.exit_code) << c.script;
    EXPECT_EQ(status.signal, c.signal) << c.script;
    // Asking again must not turn into a clean exit once the child is reaped.
    const ChildStatus again = child.wait();
    EXPECT_EQ(again.exited, c.exited) << c.script;
    EXPECT_EQ(again.exit_code, c.exit_code) << c.script;
    EXPECT_EQ(again.signal, c.signal) << c.script;
  }
}

TEST(Child, GivesOnlyTheStandardStreamsAndWhatItIsToldToInherit) {
  // A descriptor the parent leaves open across exec must still not reach
  // the child: hygiene tests compare against what a child sees.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 0);
  Pipe events;
  ChildOptions options = command({"/bin/ls", "/dev/fd/"});
  options.inherit = {{7, events.write_end.get()}};
  Child child(options);
  child.close_input();
  // ls itself holds the folder it lists open as 3.
  EXPECT_EQ(read_to_end(child.output()), "0\n1\n2\n3\n7\n");
  EXPECT_EQ(read_to_end(child.errors()), "");
  EXPECT_EQ(child.wait().exit_code, 0);
  ::close(leaked);
}

TEST(Child, FeedsStandardInputAndSeparatesTheOutputs) {
  ChildOptions options = command({"/bin/sh", "-c", "read line; echo \"out:$line\"; echo err >&2"});
  options.env = std::vector<std::string>{"PATH=/usr/bin:/bin"};
  Child child(options);
  ASSERT_EQ(::write(child.input(), "hello\n", 6), 6);
  child.close_input();
  EXPECT_EQ(read_to_end(child.output()), "out:hello\n");
  EXPECT_EQ(read_to_end(child.errors()), "err\n");
  EXPECT_EQ(child.wait().exit_code, 0);
}

}  // namespace
}  // namespace kestrum::testing
