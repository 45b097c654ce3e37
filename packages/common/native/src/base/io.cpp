#include "base/io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace kestrum {
namespace {

template <typename Write>
bool write_all_with(std::string_view bytes, Write write) {
  while (!bytes.empty()) {
    const ssize_t written = write(bytes);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  return write_all_with(
      bytes, [fd](std::string_view rest) { return ::write(fd, rest.data(), rest.size()); });
}

bool send_all(int fd, std::string_view bytes) {
  return write_all_with(bytes, [fd](std::string_view rest) {
    return ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
  });
}

bool open_missing_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken, which is this one.
    if (::open("/dev/null", O_RDWR) == -1) return false;
  }
  return true;
}

}  // namespace kestrum
