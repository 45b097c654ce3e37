#include "support/server_process.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "base/io.h"
#include "testing/record.h"

extern char** environ;

namespace kestrum::computer::testing {
namespace {

// Long enough for a loaded machine, short enough to fail a hung test.
constexpr int kWaitMilliseconds = 30000;

std::vector<std::string> environment(const ServerOptions& options) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "KESTRUM_DESKTOP_SCENE=", 22) == 0) continue;
    if (std::strncmp(*e, "DISPLAY=", 8) == 0) continue;
    env.emplace_back(*e);
  }
  if (options.scene) env.push_back("KESTRUM_DESKTOP_SCENE=" + *options.scene);
  if (options.display) env.push_back("DISPLAY=" + *options.display);
  return env;
}

void wait_readable(int fd) {
  pollfd poll_fd{fd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&poll_fd, 1, kWaitMilliseconds);
    if (ready > 0) return;
    if (ready < 0 && errno == EINTR) continue;
    throw std::runtime_error("the server did not answer in time");
  }
}

std::uint32_t little_endian(const std::string& bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]);
  return value;
}

kestrum::testing::ChildOptions child_options(const ServerOptions& options) {
  // A server that ends early must fail a test, not kill the test program.
  std::signal(SIGPIPE, SIG_IGN);
  kestrum::testing::ChildOptions child;
  child.argv = {computer_binary()};
  child.argv.insert(child.argv.end(), options.args.begin(), options.args.end());
  child.env = environment(options);
  child.stdin_fd = options.stdin_fd;
  child.close_stdin = options.close_stdin;
  child.close_stdout = options.close_stdout;
  return child;
}

}  // namespace

std::string computer_binary() { return bin_dir() + "/" KESTRUM_COMPUTER_UNDER_TEST; }

ServerProcess::ServerProcess(const ServerOptions& options) : child_(child_options(options)) {}

ServerProcess::~ServerProcess() = default;

void ServerProcess::send(const std::string& bytes) {
  if (!write_all(child_.input(), bytes)) throw std::runtime_error("could not write to the server");
}

void ServerProcess::offer(const std::string& bytes) {
  const ssize_t n = ::write(child_.input(), bytes.data(), bytes.size());
  if (n < 0 && errno != EPIPE) throw std::runtime_error("could not write to the server");
}

void ServerProcess::close_input() { child_.close_input(); }

void ServerProcess::close_output() { child_.close_output(); }

std::string ServerProcess::read_exactly(std::size_t count, bool allow_clean_end, bool& ended) {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  ended = false;
  while (done < count) {
    wait_readable(child_.output());
    const ssize_t n = ::read(child_.output(), bytes.data() + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("could not read from the server");
    if (n == 0 && done == 0 && allow_clean_end) {
      ended = true;
      return {};
    }
    if (n == 0) throw std::runtime_error("the output ended inside a frame");
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

std::optional<Frame> ServerProcess::read_frame() {
  bool ended = false;
  const std::string json_length = read_exactly(4, true, ended);
  if (ended) return std::nullopt;
  Frame frame;
  frame.json = read_exactly(little_endian(json_length), false, ended);
  frame.payload = read_exactly(little_endian(read_exactly(4, false, ended)), false, ended);
  kestrum::testing::record_output("computer-message", frame.json);
  return frame;
}

std::optional<std::string> ServerProcess::read_bytes(std::size_t count) {
  bool ended = false;
  std::string bytes = read_exactly(count, true, ended);
  if (ended) return std::nullopt;
  return bytes;
}

std::string ServerProcess::read_json() {
  std::optional<Frame> frame = read_frame();
  if (!frame) throw std::runtime_error("the output ended before a frame");
  if (!frame->payload.empty()) throw std::runtime_error("a frame with an unexpected payload");
  return frame->json;
}

std::string ServerProcess::read_rest() {
  std::string rest;
  char buffer[65536];
  for (;;) {
    wait_readable(child_.output());
    const ssize_t n = ::read(child_.output(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return rest;
    rest.append(buffer, static_cast<std::size_t>(n));
  }
}

Exit ServerProcess::wait() {
  Exit exit;
  char buffer[4096];
  for (;;) {
    wait_readable(child_.errors());
    const ssize_t n = ::read(child_.errors(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    exit.err.append(buffer, static_cast<std::size_t>(n));
  }
  const kestrum::testing::ChildStatus status = child_.wait();
  if (status.exited) exit.status = status.exit_code;
  return exit;
}

std::vector<Frame> split_frames(const std::string& output) {
  std::vector<Frame> frames;
  std::size_t at = 0;
  const auto take = [&](std::size_t count) {
    if (output.size() - at < count) throw std::runtime_error("a cut frame");
    std::string bytes = output.substr(at, count);
    at += count;
    return bytes;
  };
  while (at < output.size()) {
    Frame frame;
    frame.json = take(little_endian(take(4)));
    frame.payload = take(little_endian(take(4)));
    kestrum::testing::record_output("computer-message", frame.json);
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace kestrum::computer::testing
