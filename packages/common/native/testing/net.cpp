#include "testing/net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/descriptors.h"

namespace kestrum::testing {

int connect_loopback(std::uint16_t port) {
  auto socket = cloexec_socket(AF_INET, SOCK_STREAM, 0);
  if (!socket) return -1;
  const int fd = socket->release();
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace kestrum::testing
