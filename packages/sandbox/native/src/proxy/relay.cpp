#include "proxy/relay.h"

#include <poll.h>
#include <sys/mman.h>

#include <array>
#include <cerrno>
#include <optional>
#include <span>

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

// A bulk step's buffer, mapped for its transfer and unmapped when the
// transfer ends: a freed heap block may stay with the process, and the
// budget is meant to bound what the proxy holds.
class BulkBuffer {
 public:
  BulkBuffer()
      : bytes_(::mmap(nullptr, kBulkChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0)) {
  }
  ~BulkBuffer() {
    if (mapped()) ::munmap(bytes_, kBulkChunk);
  }
  BulkBuffer(const BulkBuffer&) = delete;
  BulkBuffer& operator=(const BulkBuffer&) = delete;
  bool mapped() const { return bytes_ != MAP_FAILED; }
  std::span<char> bytes() const { return {static_cast<char*>(bytes_), kBulkChunk}; }

 private:
  void* bytes_;
};

// The large buffer when the budget and memory allow it, else `small` on.
void copy_bulk(ProxyStream& from, ProxyStream& to, BulkBudget& budget, std::span<char> small) {
  BulkSlot slot(budget);
  std::optional<BulkBuffer> large;
  if (slot.take()) {
    large.emplace();
    if (!large->mapped()) {
      large.reset();
      slot.give_back();
    }
  }
  copy_through_memory(from, to, large ? large->bytes() : small);
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
      copy_bulk(lead.from, lead.to, budget, buffer);
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

// Every direction starts with small steps, so a short exchange costs no large
// buffer; only one whose step comes back full takes one.
void copy_stream(ProxyStream& from, ProxyStream& to, BulkBudget& budget) {
  std::array<char, kRelayChunk> buffer;
  while (true) {
    const std::size_t moved = move_once(from, to, buffer);
    if (moved == 0) return;
    if (moved == buffer.size()) break;
  }
  copy_bulk(from, to, budget, buffer);
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
