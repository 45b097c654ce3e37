#include "support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kestrum::computer::testing {
namespace {

// Long enough for a loaded machine, short enough to fail a hung test.
constexpr int kWaitMilliseconds = 30000;

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> environment(const std::optional<std::string>& scene) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "KESTRUM_DESKTOP_SCENE=", 22) != 0) env.emplace_back(*e);
  }
  if (scene) env.push_back("KESTRUM_DESKTOP_SCENE=" + *scene);
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

}  // namespace

std::string computer_binary() {
  if (const char* bin = std::getenv("KESTRUM_BIN")) return std::string(bin) + "/kestrum-computer";
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kestrum-computer";
}

ServerProcess::ServerProcess(const ServerOptions& options) {
  // A server that ends early must fail a test, not kill the test program.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2], err[2];
  if ((options.stdin_fd < 0 && ::pipe2(in, O_CLOEXEC)) || ::pipe2(out, O_CLOEXEC) ||
      ::pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv{computer_binary()};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env = environment(options.scene);
  auto argv_pointers = pointers(argv);
  auto env_pointers = pointers(env);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(options.stdin_fd >= 0 ? options.stdin_fd : in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (options.close_stdin) ::close(0);
    if (options.close_stdout) ::close(1);
    ::execve(argv_pointers[0], argv_pointers.data(), env_pointers.data());
    ::_exit(127);
  }
  if (in[0] >= 0) ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
}

ServerProcess::~ServerProcess() {
  if (!waited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void ServerProcess::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("could not write to the server");
    done += static_cast<std::size_t>(n);
  }
}

void ServerProcess::offer(const std::string& bytes) {
  const ssize_t n = ::write(in_, bytes.data(), bytes.size());
  if (n < 0 && errno != EPIPE) throw std::runtime_error("could not write to the server");
}

void ServerProcess::close_input() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void ServerProcess::close_output() {
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

std::string ServerProcess::read_exactly(std::size_t count, bool allow_clean_end, bool& ended) {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  ended = false;
  while (done < count) {
    wait_readable(out_);
    const ssize_t n = ::read(out_, bytes.data() + done, count - done);
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
    wait_readable(out_);
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return rest;
    rest.append(buffer, static_cast<std::size_t>(n));
  }
}

Exit ServerProcess::wait() {
  Exit exit;
  char buffer[4096];
  for (;;) {
    wait_readable(err_);
    const ssize_t n = ::read(err_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    exit.err.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  if (WIFEXITED(status)) exit.status = WEXITSTATUS(status);
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
    frames.push_back(std::move(frame));
  }
  return frames;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/kestrum-computer-test-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& content) {
  const std::string partial = path + ".partial";
  std::ofstream(partial, std::ios::binary) << content;
  std::filesystem::rename(partial, path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace kestrum::computer::testing
