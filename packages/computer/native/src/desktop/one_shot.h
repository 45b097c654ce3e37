// The hand-over from a system completion handler to the thread waiting for
// it. The system may call a handler on any thread, twice, late or never;
// the waiting thread must neither block for ever nor see a second value.
//
// Ownership: the waiting side makes the reply with std::make_shared, gives
// a copy of the pointer to the completion handler and keeps its own until
// its wait is over, so a handler never outlives the reply it sends into,
// whichever side finishes first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "base/result.h"

namespace kestrum::computer {

// How long one wait for the system lasts, from when the call that was
// given the handler returned.
inline constexpr std::chrono::seconds kReplyWait{5};

template <class T>
class OneShotReply {
 public:
  // A value of T, or the error text the handler got instead.
  using Answer = Result<T>;
  // Monotonic, so changing the wall clock cannot stretch or cut a wait.
  using Clock = std::chrono::steady_clock;

  // From any thread, any number of times. Only the first call delivers:
  // it empties the sender slot under the lock, so a second call finds
  // nothing to send with. An answer to a receiver that has already given up
  // is dropped. True when this call's answer reached the receiver.
  bool send(Answer answer) {
    std::lock_guard lock(mutex_);
    if (!sender_) return false;
    sender_ = false;
    if (!receiver_) return false;
    answer_.emplace(std::move(answer));
    arrived_.notify_one();
    return true;
  }

  // Blocks until an answer arrives or `deadline` passes; nothing when it
  // passed first. Either way the receiver is gone afterwards: answers that
  // come later are dropped, and waiting again gives nothing at once.
  std::optional<Answer> wait_until(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!receiver_) return std::nullopt;
    arrived_.wait_until(lock, deadline, [this] { return answer_.has_value(); });
    receiver_ = false;
    return std::exchange(answer_, std::nullopt);
  }

  std::optional<Answer> wait_for(Clock::duration timeout) {
    return wait_until(Clock::now() + timeout);
  }

  // The wait the capture makes after each system call.
  std::optional<Answer> wait() { return wait_for(kReplyWait); }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  bool sender_ = true;    // the handler has not sent yet
  bool receiver_ = true;  // the waiting side has not given up yet
  std::optional<Answer> answer_;
};

}  // namespace kestrum::computer
