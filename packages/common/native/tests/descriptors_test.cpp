#include "base/descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace kestrum {
namespace {

bool close_on_exec(const UniqueFd& fd) {
  const int flags = ::fcntl(fd.get(), F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

// A command the sandbox starts must never inherit the launcher's sockets and
// pipes, so every maker must hand out close-on-exec descriptors that work.
TEST(Descriptors, EveryMakerHandsOutWorkingCloseOnExecDescriptors) {
  auto listener = cloexec_socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_TRUE(listener.ok());
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* generic = reinterpret_cast<sockaddr*>(&address);
  ASSERT_EQ(::bind(listener->get(), generic, sizeof address), 0);
  ASSERT_EQ(::listen(listener->get(), 1), 0);
  ASSERT_EQ(::getsockname(listener->get(), generic, &length), 0);
  auto client = cloexec_socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_TRUE(client.ok());
  ASSERT_EQ(::connect(client->get(), generic, sizeof address), 0);
  auto accepted = cloexec_accept(listener->get());
  ASSERT_TRUE(accepted.ok());
  auto pipe = cloexec_pipe();
  ASSERT_TRUE(pipe.ok());
  auto pair = cloexec_socket_pair();
  ASSERT_TRUE(pair.ok());

  const struct {
    std::string name;
    const UniqueFd& from;
    const UniqueFd& to;
  } connected[] = {
      {"socket and accept", *client, *accepted},
      {"pipe", pipe->write, pipe->read},
      {"socket pair", pair->write, pair->read},
  };
  for (const auto& c : connected) {
    EXPECT_TRUE(close_on_exec(c.from)) << c.name;
    EXPECT_TRUE(close_on_exec(c.to)) << c.name;
    ASSERT_EQ(::write(c.from.get(), "x", 1), 1) << c.name;
    char byte = 0;
    EXPECT_EQ(::read(c.to.get(), &byte, 1), 1) << c.name;
    EXPECT_EQ(byte, 'x') << c.name;
  }
  EXPECT_TRUE(close_on_exec(*listener));
}

TEST(Descriptors, FailuresCarryTheSystemsErrorNumber) {
  EXPECT_EQ(cloexec_socket(-1, SOCK_STREAM, 0).error(), EAFNOSUPPORT);
  EXPECT_EQ(cloexec_accept(-1).error(), EBADF);
}

}  // namespace
}  // namespace kestrum
