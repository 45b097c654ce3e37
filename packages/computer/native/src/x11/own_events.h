// The record of the events the server posted, so that the tap can tell
// them from the person's. XTest events carry no tag: the tap sees them come
// back from the XTest devices as raw events and claims each one against
// this record. Pointer and keyboard events come back each in their own
// order, but not in order with each other: a grab that freezes the pointer
// (a window manager's click to focus) holds its events back while keys go
// on. So each has its own record. A raw event
// that matches nothing here is the person's (or another program's).
//
// Shared by the serve-loop thread (note) and the tap's thread (claim).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace kestrum::computer::x11 {

enum class OwnKind { kMotion, kButtonPress, kKeyPress };

class OwnEvents {
 public:
  using Clock = std::chrono::steady_clock;
  // How long a posted event may take to come back; after that it is taken
  // as lost (the server may drop an event) and forgotten.
  static constexpr std::chrono::milliseconds kLifetime{10000};

  // One event the server posted: `detail` is the button or key code (0 for
  // motion), `x` and `y` where a motion went.
  struct Posted {
    OwnKind kind = OwnKind::kMotion;
    std::uint32_t detail = 0;
    int x = 0;
    int y = 0;
    Clock::time_point at;
  };

  // Before posting: the event about to be posted.
  void note(const Posted& posted);

  // For a raw event from an XTest device: the server's event it is, if it
  // is one. The first unexpired record of the same kind and detail is
  // claimed; records of the same device before it never came back and are
  // forgotten.
  std::optional<Posted> claim(OwnKind kind, std::uint32_t detail,
                              Clock::time_point now = Clock::now());

  std::size_t pending() const;

 private:
  mutable std::mutex lock_;
  std::deque<Posted>& record_of(OwnKind kind);
  std::deque<Posted> pointer_;   // guarded by lock_, oldest first
  std::deque<Posted> keyboard_;  // guarded by lock_, oldest first
};

}  // namespace kestrum::computer::x11
