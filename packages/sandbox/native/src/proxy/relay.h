// Copying bytes both ways between a client and a server until both
// directions have ended.
#pragma once

#include <atomic>
#include <cstddef>

#include "proxy/stream.h"
#include "proxy/threads.h"

namespace kestrum::sandbox {

// Bytes moved per step while a direction is small: a stalled direction
// holds at most this much, and a request-sized exchange never needs more.
inline constexpr std::size_t kRelayChunk = 16 * 1024;
// A direction whose step comes back full is a bulk transfer; larger steps cut
// its wake-ups and system calls. Measured on one 1 GiB upload against
// `socat -b 1048576` in the same runs: 1 MiB steps through memory ran at
// 0.82-1.12 of socat's rate, 256 KiB steps spliced through a pipe at
// 0.65-0.86 (the receiving end's copy out of spliced pages cost it about twice
// as much), 4 MiB steps no better than 1 MiB.
inline constexpr std::size_t kBulkChunk = 1024 * 1024;
// A bulk buffer is memory held while its transfer lasts, so one proxy has at
// most this many at once (16 MiB); the other directions keep the small step.
inline constexpr int kBulkSlots = 16;

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

// Copies until end of stream or an error; nothing is reported.
void copy_stream(ProxyStream& from, ProxyStream& to, BulkBudget& budget);

// Both directions on this thread while their steps are small, each on a
// thread of its own once one is a bulk transfer or stalls; each direction
// half-closes its destination when its source ends, so the other direction
// keeps flowing. Returns when both are done; everything is closed.
void relay(ProxyStream client, ProxyStream server, BulkBudget& budget, Workers& workers);

}  // namespace kestrum::sandbox
