#include "proxy/relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "base/descriptors.h"
#include "base/unique_fd.h"
#include "proxy/threads.h"

namespace kestrum::sandbox {
namespace {

void copy_through_memory(ProxyStream& from, ProxyStream& to) {
  std::array<char, kRelayChunk> buffer;
  while (true) {
    auto n = from.read(buffer);
    if (!n || *n == 0) return;
    if (!to.write_all(std::string_view(buffer.data(), *n))) return;
  }
}

#if defined(__linux__)
// The same chunks moved through a pipe inside the kernel: no copy into and
// out of this process, which is most of a tunnel's cost.
ssize_t splice_retrying(int in, int out, std::size_t length) {
  while (true) {
    const ssize_t n = ::splice(in, nullptr, out, nullptr, length, SPLICE_F_MOVE);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// False when no pipe could be made and nothing was moved.
bool copy_through_pipe(ProxyStream& from, ProxyStream& to) {
  auto pipe = cloexec_pipe();
  if (!pipe) return false;
  const UniqueFd pipe_read = std::move(pipe->read);
  const UniqueFd pipe_write = std::move(pipe->write);
  while (true) {
    const ssize_t chunk = splice_retrying(from.fd(), pipe_write.get(), kRelayChunk);
    if (chunk <= 0) return true;
    // Each chunk is written whole before the next read.
    for (ssize_t left = chunk; left > 0;) {
      const ssize_t moved =
          splice_retrying(pipe_read.get(), to.fd(), static_cast<std::size_t>(left));
      if (moved <= 0) return true;
      left -= moved;
    }
  }
}
#else
bool copy_through_pipe(ProxyStream&, ProxyStream&) { return false; }
#endif

}  // namespace

void copy_stream(ProxyStream& from, ProxyStream& to) {
  if (!copy_through_pipe(from, to)) copy_through_memory(from, to);
}

void relay(ProxyStream client, ProxyStream server) {
  auto client_reader = client.try_clone();
  auto server_reader = server.try_clone();
  if (!client_reader || !server_reader) return;

  JoinedThread upstream([from = std::move(*client_reader), to = std::move(server)]() mutable {
    copy_stream(from, to);
    to.shutdown_write();
  });
  // Without the second thread only one direction could move, which would
  // hang a request-response exchange; closing tells the client at once.
  if (!upstream.started()) return;
  copy_stream(*server_reader, client);
  client.shutdown_write();
}

}  // namespace kestrum::sandbox
