// Copying bytes both ways between a client and a server until both
// directions have ended.
#pragma once

#include <atomic>
#include <cstddef>

#include "proxy/stream.h"
#include "proxy/threads.h"

namespace kestrum::sandbox {

// Bytes moved per step through memory: a stalled direction holds at most
// this much, and a request-sized exchange never needs more.
inline constexpr std::size_t kRelayChunk = 16 * 1024;
// A direction whose step comes back full is a bulk transfer; larger steps cut
// its wake-ups and system calls (measured: 0.44 of a direct connection's
// throughput at 8 KiB steps, 0.75 at 256 KiB through a pipe).
inline constexpr std::size_t kBulkChunk = 256 * 1024;
// A bulk step holds that much memory (a pipe's pages in the kernel, or a
// buffer) while its data waits, so one proxy has at most this many at once
// (16 MiB); the other directions keep the small step.
inline constexpr int kBulkSlots = 64;

// The bulk slots one proxy may still hand out; shared by its threads.
class BulkBudget {
 public:
  explicit BulkBudget(int slots) : left_(slots) {}
  BulkBudget(const BulkBudget&) = delete;
  BulkBudget& operator=(const BulkBudget&) = delete;

  // False when none is left.
  bool take();
  void give_back() { left_.fetch_add(1, std::memory_order_relaxed); }
  int left() const { return left_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int> left_;
};

// How a bulk transfer moves: through a pipe inside the kernel (Linux's
// splice, no copy into this process), or through a larger buffer.
enum class BulkPath { kKernel, kMemory };

#if defined(__linux__)
inline constexpr BulkPath kBulkPath = BulkPath::kKernel;
#else
inline constexpr BulkPath kBulkPath = BulkPath::kMemory;
#endif

// Copies until end of stream or an error; nothing is reported.
void copy_stream(ProxyStream& from, ProxyStream& to, BulkBudget& budget, BulkPath path = kBulkPath);

// Client-to-server on a second thread, server-to-client on this one; each
// direction half-closes its destination when its source ends, so the other
// direction keeps flowing. Returns when both are done; everything is closed.
void relay(ProxyStream client, ProxyStream server, BulkBudget& budget, Workers& workers);

}  // namespace kestrum::sandbox
