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

// A bulk pipe taken from the budget, given back when the direction ends.
class BulkSlot {
 public:
  explicit BulkSlot(PipeBudget& budget) : budget_(budget) {}
  ~BulkSlot() {
    if (held_) budget_.give_back();
  }
  BulkSlot(const BulkSlot&) = delete;
  BulkSlot& operator=(const BulkSlot&) = delete;
  bool held() const { return held_; }
  bool take() { return held_ = budget_.take(); }
  void give_back() {
    budget_.give_back();
    held_ = false;
  }

 private:
  PipeBudget& budget_;
  bool held_ = false;
};

// Grows the (empty) pipe for a bulk transfer when the budget and the system
// allow it; the step it may move from now on.
std::size_t grow_for_bulk(int pipe, BulkSlot& slot, std::size_t step) {
  if (slot.held() || !slot.take()) return step;
  const int size = ::fcntl(pipe, F_SETPIPE_SZ, static_cast<int>(kBulkChunk));
  if (size >= static_cast<int>(kBulkChunk)) return kBulkChunk;
  slot.give_back();
  return step;
}

// False when no pipe could be made and nothing was moved.
bool copy_through_pipe(ProxyStream& from, ProxyStream& to, PipeBudget& budget) {
  auto pipe = cloexec_pipe();
  if (!pipe) return false;
  const UniqueFd pipe_read = std::move(pipe->read);
  const UniqueFd pipe_write = std::move(pipe->write);
  BulkSlot slot(budget);
  std::size_t step = kRelayChunk;
  while (true) {
    const ssize_t chunk = splice_retrying(from.fd(), pipe_write.get(), step);
    if (chunk <= 0) return true;
    // Each chunk is written whole before the next read.
    for (ssize_t left = chunk; left > 0;) {
      const ssize_t moved =
          splice_retrying(pipe_read.get(), to.fd(), static_cast<std::size_t>(left));
      if (moved <= 0) return true;
      left -= moved;
    }
    if (static_cast<std::size_t>(chunk) == step) step = grow_for_bulk(pipe_write.get(), slot, step);
  }
}
#else
bool copy_through_pipe(ProxyStream&, ProxyStream&, PipeBudget&) { return false; }
#endif

}  // namespace

bool PipeBudget::take() {
  int left = left_.load(std::memory_order_relaxed);
  while (left > 0) {
    if (left_.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

void copy_stream(ProxyStream& from, ProxyStream& to, PipeBudget& budget) {
  if (!copy_through_pipe(from, to, budget)) copy_through_memory(from, to);
}

void relay(ProxyStream client, ProxyStream server, PipeBudget& budget) {
  auto client_reader = client.try_clone();
  auto server_reader = server.try_clone();
  if (!client_reader || !server_reader) return;

  JoinedThread upstream(
      [from = std::move(*client_reader), to = std::move(server), &budget]() mutable {
        copy_stream(from, to, budget);
        to.shutdown_write();
      });
  // Without the second thread only one direction could move, which would
  // hang a request-response exchange; closing tells the client at once.
  if (!upstream.started()) return;
  copy_stream(*server_reader, client, budget);
  client.shutdown_write();
}

}  // namespace kestrum::sandbox
