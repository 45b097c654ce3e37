// Drives the built kestrum-computer over pipes: writes request bytes, reads
// answer frames one at a time, and collects the exit status and standard
// error. Every wait is bounded so that a hung server fails the test instead
// of stalling the suite. The JSON part of every frame read here or split by
// split_frames is recorded for the schema check (testing/record.h).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/child.h"
#include "testing/files.h"

namespace kestrum::computer::testing {

using kestrum::testing::bin_dir;
using kestrum::testing::read_file;
using kestrum::testing::replace_file;
using kestrum::testing::TempDir;

struct Frame {
  std::string json;
  std::string payload;
};

struct Exit {
  int status = -1;  // -1 when the process did not exit normally
  std::string err;
};

struct ServerOptions {
  std::vector<std::string> args;     // after the program name
  std::optional<std::string> scene;  // KESTRUM_DESKTOP_SCENE; absent: unset
  int stdin_fd = -1;                 // given instead of a pipe when >= 0
  bool close_stdin = false;          // start with descriptor 0 closed
  bool close_stdout = false;         // start with descriptor 1 closed
  // DISPLAY; absent: unset, so that no test drives the desktop it runs on.
  std::optional<std::string> display = std::nullopt;
};

class ServerProcess {
 public:
  explicit ServerProcess(const ServerOptions& options);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  void send(const std::string& bytes);
  // Like send, for a server that may already have ended: a closed pipe is
  // not an error then.
  void offer(const std::string& bytes);
  void close_input();
  // Closes the reading end of the server's standard output.
  void close_output();
  // The next frame; nothing when the output ended cleanly between frames.
  // Throws when the output ends inside a frame or nothing comes in time.
  std::optional<Frame> read_frame();
  // The next frame's JSON part, which must have an empty payload.
  std::string read_json();
  // Exactly `count` bytes of standard output; nothing when the output ended
  // cleanly before the first. Throws when it ends after some of them or
  // nothing comes in time.
  std::optional<std::string> read_bytes(std::size_t count);
  // Everything left on standard output until it closes.
  std::string read_rest();
  Exit wait();
  // The server's process identifier.
  pid_t pid() const { return child_.pid(); }

 private:
  std::string read_exactly(std::size_t count, bool allow_clean_end, bool& ended);

  kestrum::testing::Child child_;
};

// The path of the built program.
std::string computer_binary();

// Frames of a whole output, in order; throws on a cut frame.
std::vector<Frame> split_frames(const std::string& output);

}  // namespace kestrum::computer::testing
