#include "base/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "base/descriptors.h"

namespace kestrum {
namespace {

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  return bytes;
}

// Reads in small pieces, so the writer keeps blocking.
std::string drain_slowly(int fd) {
  std::string got;
  char buffer[1000];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

TEST(WriteAll, DeliversEveryByteThroughPartialWrites) {
  struct Case {
    const char* name;
    bool socket;
    bool (*write)(int, std::string_view);
  };
  const Case cases[] = {{"write_all to a pipe", false, write_all},
                        {"send_all to a socket", true, send_all},
                        {"write_all to a socket", true, write_all}};
  const std::string bytes = pattern(4 << 20);
  // A blocked write returns early with a partial count, or fails with EINTR,
  // when a signal arrives; keep signalling the writer so both happen.
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &previous), 0);
  const pthread_t writer = ::pthread_self();
  for (const auto& c : cases) {
    auto ends = c.socket ? cloexec_socket_pair() : cloexec_pipe();
    ASSERT_TRUE(ends.ok());
    const int fds[2] = {ends->read.release(), ends->write.release()};
    std::string got;
    std::thread reader([&] { got = drain_slowly(fds[0]); });
    std::atomic<bool> done{false};
    std::thread nagger([&] {
      while (!done) {
        ::pthread_kill(writer, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    EXPECT_TRUE(c.write(fds[1], bytes)) << c.name;
    done = true;
    nagger.join();
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(got.size(), bytes.size()) << c.name;
    EXPECT_TRUE(got == bytes) << c.name;
  }
  ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(WriteAll, ReportsARefusingDescriptorWithItsErrno) {
  // A peer that has gone must come back as a value, not as SIGPIPE.
  const auto previous = std::signal(SIGPIPE, SIG_DFL);
  auto ends = cloexec_socket_pair();
  ASSERT_TRUE(ends.ok());
  const int fds[2] = {ends->read.release(), ends->write.release()};
  ::close(fds[0]);
  errno = 0;
  EXPECT_FALSE(send_all(fds[1], "to nobody"));
  EXPECT_EQ(errno, EPIPE);
  ::close(fds[1]);
  std::signal(SIGPIPE, previous);

  errno = 0;
  EXPECT_FALSE(write_all(fds[1], "to a closed descriptor"));
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(write_all(fds[1], "")) << "nothing to write is never a failure";
}

// Runs in a child: closes `closed`, repairs, and reports through its status
// which descriptors now are /dev/null (bit per descriptor) or 8 on failure.
int repaired_in_child(std::initializer_list<int> closed) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int fd : closed) ::close(fd);
    if (!open_missing_standard_descriptors()) ::_exit(8);
    struct stat null_device {};
    if (::stat("/dev/null", &null_device) != 0) ::_exit(9);
    int null_bits = 0;
    for (int fd = 0; fd <= 2; ++fd) {
      struct stat opened {};
      if (::fstat(fd, &opened) != 0) ::_exit(10);
      if (opened.st_rdev == null_device.st_rdev && S_ISCHR(opened.st_mode)) null_bits |= 1 << fd;
    }
    ::_exit(null_bits);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OpenMissingStandardDescriptors, FillsOnlyTheClosedOnes) {
  // The test runner's own standard streams are not /dev/null here: ctest and
  // gtest give them pipes or files. Bits that are set already before count.
  const int before = repaired_in_child({});
  ASSERT_GE(before, 0);
  ASSERT_LT(before, 8);
  EXPECT_EQ(repaired_in_child({0}), before | 1);
  EXPECT_EQ(repaired_in_child({1, 2}), before | 6);
  EXPECT_EQ(repaired_in_child({0, 1, 2}), 7);
}

}  // namespace
}  // namespace kestrum
