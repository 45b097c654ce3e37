// The simulated event stream: the person's events from the scene's "input"
// and the events the server posts, delivered in arrival order to the tap's
// handler on the thread that runs the run loop, as the system would.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "desktop/desktop.h"
#include "sim/scene.h"

namespace kestrum::computer::sim {

class TapChannel {
 public:
  void create_tap(TapHandler& handler, std::uint64_t mask);
  // The tap's source was added to the run loop: events flow from now on.
  void attach();
  // The system switched the tap off when it delivered a "disabled" event;
  // until this call, other events are dropped.
  void enable();
  void push(const PersonEvent& event);
  // Delivers events for ever on the calling thread.
  [[noreturn]] void run();

 private:
  // Whether the tap takes `event` now; a "disabled" event switches it off.
  bool admit(const PersonEvent& event);

  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<PersonEvent> queue_;  // guarded by lock_
  TapHandler* handler_ = nullptr;  // guarded by lock_
  std::uint64_t mask_ = 0;         // guarded by lock_
  bool attached_ = false;          // guarded by lock_
  bool enabled_ = true;            // guarded by lock_
};

// Reads the person's events from `path` (a file or a FIFO) on a thread of
// its own and pushes them, in order, until the end of the file.
void start_input_reader(const std::string& path, TapChannel& channel);

}  // namespace kestrum::computer::sim
