#include "proxy/stream.h"

#include <sys/socket.h>

#include <cerrno>

#include "base/io.h"
#include "base/system_error.h"

namespace kestrum::sandbox {

Result<std::size_t> ProxyStream::read(std::span<char> buffer) {
  while (true) {
    const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return fail(last_system_error_text());
  }
}

Status ProxyStream::write_all(std::string_view bytes) {
  if (!send_all(fd_.get(), bytes)) return fail(last_system_error_text());
  return {};
}

Result<std::size_t> ProxyStream::write_some(std::string_view bytes) {
  while (true) {
    const ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::size_t{0};
    if (errno != EINTR) return fail(last_system_error_text());
  }
}

void ProxyStream::shutdown_write() { ::shutdown(fd_.get(), SHUT_WR); }

}  // namespace kestrum::sandbox
