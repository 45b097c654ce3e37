#include "base/descriptors.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kestrum {
namespace {

#if defined(__linux__)
constexpr int kSocketCloexec = SOCK_CLOEXEC;
#else
constexpr int kSocketCloexec = 0;  // set afterwards, in own()
#endif

bool mark_cloexec([[maybe_unused]] int fd) {
#if defined(__linux__)
  return true;
#else
  return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
#endif
}

// Takes `fd` (when the call that made it succeeded) and makes sure it is
// close-on-exec.
Result<UniqueFd, int> own(int fd) {
  if (fd < 0) return fail_with(errno);
  UniqueFd owned(fd);
  if (!mark_cloexec(fd)) return fail_with(errno);
  return owned;
}

Result<PipeEnds, int> own_pair(const int fds[2]) {
  PipeEnds ends{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (!mark_cloexec(fds[0]) || !mark_cloexec(fds[1])) return fail_with(errno);
  return ends;
}

}  // namespace

Result<PipeEnds, int> cloexec_pipe() {
  int fds[2];
#if defined(__linux__)
  const int made = ::pipe2(fds, O_CLOEXEC);
#else
  const int made = ::pipe(fds);
#endif
  if (made != 0) return fail_with(errno);
  return own_pair(fds);
}

Result<PipeEnds, int> cloexec_socket_pair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | kSocketCloexec, 0, fds) != 0) return fail_with(errno);
  return own_pair(fds);
}

Result<UniqueFd, int> cloexec_socket(int domain, int type, int protocol) {
  return own(::socket(domain, type | kSocketCloexec, protocol));
}

Result<UniqueFd, int> cloexec_accept(int listener) {
#if defined(__linux__)
  return own(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
#else
  return own(::accept(listener, nullptr, nullptr));
#endif
}

}  // namespace kestrum
