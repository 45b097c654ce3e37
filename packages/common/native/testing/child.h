// Starts a built program as a separate process with its standard streams on
// pipes, for tests and benchmarks that drive real binaries.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_fd.h"

namespace kestrum::testing {

struct ChildOptions {
  std::vector<std::string> argv;                // argv[0] is the path to run
  std::optional<std::vector<std::string>> env;  // NAME=value; absent: inherit
  int stdin_fd = -1;                            // given instead of a pipe when >= 0
  bool close_stdin = false;                     // start with descriptor 0 closed
  bool close_stdout = false;                    // start with descriptor 1 closed
  // {child number, parent descriptor}, placed after the standard streams.
  // Nothing else above 2 reaches the child: not even what the test runner
  // left open without close-on-exec.
  std::vector<std::pair<int, int>> inherit;
};

struct ChildStatus {
  bool exited = false;
  int exit_code = -1;  // -1 unless it exited
  int signal = 0;      // the signal that ended it, 0 unless it was one
};

// A close-on-exec pipe, for handing one end to a child through `inherit`.
struct Pipe {
  Pipe();  // throws std::runtime_error when no pipe can be made
  UniqueFd read_end, write_end;
};

// A started child and the parent's ends of its pipes. The destructor kills
// and reaps a child that was never waited for. Throws std::runtime_error
// when the pipes cannot be made or the fork fails.
class Child {
 public:
  explicit Child(const ChildOptions& options);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // The parent's ends; -1 once closed (or, for input, when stdin_fd was given).
  int input() const { return in_.get(); }
  int output() const { return out_.get(); }
  int errors() const { return err_.get(); }
  void close_input() { in_.reset(); }
  void close_output() { out_.reset(); }
  void close_errors() { err_.reset(); }

  // Reaps the child, once; later calls give the same status. The pipes stay
  // as they are.
  ChildStatus wait();

 private:
  pid_t pid_ = -1;
  std::optional<ChildStatus> status_;
  UniqueFd in_, out_, err_;
};

}  // namespace kestrum::testing
