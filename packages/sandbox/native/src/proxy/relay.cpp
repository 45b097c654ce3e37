#include "proxy/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "base/descriptors.h"
#include "base/unique_fd.h"
#include "proxy/threads.h"

namespace kestrum::sandbox {
namespace {

// A bulk slot taken from the budget, given back when the direction ends.
class BulkSlot {
 public:
  explicit BulkSlot(BulkBudget& budget) : budget_(budget) {}
  ~BulkSlot() {
    if (held_) budget_.give_back();
  }
  BulkSlot(const BulkSlot&) = delete;
  BulkSlot& operator=(const BulkSlot&) = delete;
  bool take() { return held_ = budget_.take(); }
  void give_back() {
    budget_.give_back();
    held_ = false;
  }

 private:
  BulkBudget& budget_;
  bool held_ = false;
};

// One read and its write; the bytes moved, 0 at the end or on an error.
std::size_t move_once(ProxyStream& from, ProxyStream& to, std::span<char> buffer) {
  auto n = from.read(buffer);
  if (!n || *n == 0) return 0;
  if (!to.write_all(std::string_view(buffer.data(), *n))) return 0;
  return *n;
}

void copy_through_memory(ProxyStream& from, ProxyStream& to, std::span<char> buffer) {
  while (move_once(from, to, buffer) > 0) {
  }
}

// The larger buffer when the budget and memory allow it, else `small` on.
void copy_bulk_through_memory(ProxyStream& from, ProxyStream& to, BulkBudget& budget,
                              std::span<char> small) {
  BulkSlot slot(budget);
  std::unique_ptr<char[]> large;
  if (slot.take()) {
    large.reset(new (std::nothrow) char[kBulkChunk]);
    if (!large) slot.give_back();
  }
  copy_through_memory(from, to, large ? std::span<char>(large.get(), kBulkChunk) : small);
}

#if defined(__linux__)
ssize_t splice_retrying(int in, int out, std::size_t length) {
  while (true) {
    const ssize_t n = ::splice(in, nullptr, out, nullptr, length, SPLICE_F_MOVE);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// The step a bulk pipe may move: large when the budget and the system allow
// the pipe to grow, else the small one.
std::size_t bulk_step(int pipe, BulkSlot& slot) {
  if (!slot.take()) return kRelayChunk;
  const int size = ::fcntl(pipe, F_SETPIPE_SZ, static_cast<int>(kBulkChunk));
  if (size >= static_cast<int>(kBulkChunk)) return kBulkChunk;
  slot.give_back();
  return kRelayChunk;
}

// The data moves through a pipe inside the kernel: no copy into and out of
// this process, which is most of a bulk transfer's cost. False when no pipe
// could be made and nothing was moved.
bool copy_through_pipe(ProxyStream& from, ProxyStream& to, BulkBudget& budget) {
  auto pipe = cloexec_pipe();
  if (!pipe) return false;
  const UniqueFd pipe_read = std::move(pipe->read);
  const UniqueFd pipe_write = std::move(pipe->write);
  BulkSlot slot(budget);
  const std::size_t step = bulk_step(pipe_write.get(), slot);
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
  }
}
#else
bool copy_through_pipe(ProxyStream&, ProxyStream&, BulkBudget&) { return false; }
#endif

void copy_bulk(ProxyStream& from, ProxyStream& to, BulkBudget& budget, BulkPath path,
               std::span<char> small) {
  switch (path) {
    case BulkPath::kKernel:
      if (copy_through_pipe(from, to, budget)) return;
      break;
    case BulkPath::kMemory:
      break;
  }
  copy_bulk_through_memory(from, to, budget, small);
}

// One direction of a relay while both are moved from one thread.
struct Direction {
  ProxyStream& from;
  ProxyStream& to;
  bool open = true;
};

// What one readable source gave.
enum class Moved {
  kSome,     // a step, passed on whole
  kEnded,    // end of stream or an error
  kFull,     // a full step: a bulk transfer has begun
  kStalled,  // the destination took only part; the rest is pending
};

Moved move_ready(Direction& direction, std::span<char> buffer, std::string_view& pending) {
  auto n = direction.from.read(buffer);
  if (!n || *n == 0) return Moved::kEnded;
  auto written = direction.to.write_some(std::string_view(buffer.data(), *n));
  if (!written) return Moved::kEnded;
  if (*written < *n) {
    pending = std::string_view(buffer.data() + *written, *n - *written);
    return Moved::kStalled;
  }
  return *n == buffer.size() ? Moved::kFull : Moved::kSome;
}

// Each open direction on a thread of its own, so that neither waits for the
// other: `lead` (with its pending bytes) on this one, `other` on a worker.
void finish_on_threads(Direction& lead, Direction& other, std::string_view pending, bool bulk,
                       std::span<char> buffer, BulkBudget& budget, Workers& workers) {
  std::optional<JoinedWork> other_thread;
  if (other.open) {
    other_thread.emplace(workers, [&other, &budget] {
      copy_stream(other.from, other.to, budget);
      other.to.shutdown_write();
    });
    // Without the second thread only one direction could move, which would
    // hang a request-response exchange; closing tells the client at once.
    if (!other_thread->started()) return;
  }
  if (lead.open && lead.to.write_all(pending)) {
    if (bulk)
      copy_bulk(lead.from, lead.to, budget, kBulkPath, buffer);
    else
      copy_stream(lead.from, lead.to, budget);
  }
  lead.to.shutdown_write();
}

}  // namespace

bool BulkBudget::take() {
  int left = left_.load(std::memory_order_relaxed);
  while (left > 0) {
    if (left_.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

// Every direction starts with small steps through memory, so a short exchange
// costs no pipe and no large buffer; only one whose step comes back full is
// moved to the bulk path.
void copy_stream(ProxyStream& from, ProxyStream& to, BulkBudget& budget, BulkPath path) {
  std::array<char, kRelayChunk> buffer;
  while (true) {
    const std::size_t moved = move_once(from, to, buffer);
    if (moved == 0) return;
    if (moved == buffer.size()) break;
  }
  copy_bulk(from, to, budget, path, buffer);
}

// While both directions carry small steps that their destinations take at
// once, one thread moves both as their sources become readable: a short
// connection then needs no second thread. A bulk transfer, a destination
// that cannot keep up (waiting for it here would stall the other direction)
// or a failed poll hands the rest to two threads.
void relay(ProxyStream client, ProxyStream server, BulkBudget& budget, Workers& workers) {
  std::array<char, kRelayChunk> buffer;
  Direction up{client, server}, down{server, client};
  while (up.open || down.open) {
    pollfd ready[2] = {{up.open ? client.fd() : -1, POLLIN, 0},
                       {down.open ? server.fd() : -1, POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return finish_on_threads(up, down, {}, false, buffer, budget, workers);
    }
    for (int i = 0; i < 2; ++i) {
      Direction& direction = i == 0 ? up : down;
      if (!direction.open || ready[i].revents == 0) continue;
      std::string_view pending;
      const Moved moved = move_ready(direction, buffer, pending);
      switch (moved) {
        case Moved::kSome:
          break;
        case Moved::kEnded:
          direction.to.shutdown_write();
          direction.open = false;
          break;
        case Moved::kFull:
        case Moved::kStalled:
          return finish_on_threads(direction, i == 0 ? down : up, pending, moved == Moved::kFull,
                                   buffer, budget, workers);
      }
    }
  }
}

}  // namespace kestrum::sandbox
