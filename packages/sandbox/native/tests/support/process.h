// Runs a built binary as a separate process and collects what it did: its
// status, its output and, for the recording stand-in, the record it wrote to
// descriptor 3.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testing/child.h"
#include "testing/files.h"

namespace kestrum::testing {

struct ProcessOptions {
  std::vector<std::string> argv;                // argv[0] is the path to run
  std::optional<std::vector<std::string>> env;  // NAME=value; absent: inherit
  bool record = false;                          // open descriptor 3 on a record file
  std::vector<std::pair<int, int>> inherit;     // {child number, parent descriptor}
};

struct ProcessResult {
  pid_t pid = -1;
  bool exited = false;
  int exit_code = -1;
  int signal = 0;
  std::string out;
  std::string err;
  std::string record;
};

// A started child, its standard input empty; wait() collects it. The
// destructor kills and reaps a child that was never waited for.
class Process {
 public:
  explicit Process(const ProcessOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  pid_t pid() const { return child_.pid(); }
  ProcessResult wait();

 private:
  struct RecordFile {
    UniqueFd fd;
    std::string path;  // empty when nothing is recorded
  };
  // The record file is made before the child starts, so it comes first.
  RecordFile record_;
  Child child_;
};

ProcessResult run_process(const ProcessOptions& options);

// The common case: a command line and, when given, the whole environment.
ProcessResult run_process(std::vector<std::string> argv,
                          std::optional<std::vector<std::string>> env = std::nullopt);

// One "<kind> <length> <bytes>\n" entry of the recording stand-in.
std::vector<std::pair<std::string, std::string>> parse_record(const std::string& record);

}  // namespace kestrum::testing
