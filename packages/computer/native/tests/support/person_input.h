// The person's side of the simulated desktop: a FIFO its event tap reads,
// and a way to know when the tap has caught up with what was sent.
#pragma once

#include <cstddef>
#include <string>

namespace kestrum::computer::testing {

class PersonInput {
 public:
  // Creates the FIFO at `path`; throws when it cannot.
  explicit PersonInput(const std::string& path);
  ~PersonInput();
  PersonInput(const PersonInput&) = delete;
  PersonInput& operator=(const PersonInput&) = delete;

  // Whole lines of at most PIPE_BUF bytes, so that each write is all or
  // nothing. False when the FIFO is full; writes never wait, so a test can
  // always stop playing the person.
  bool try_send(const std::string& lines);
  // Like try_send, but waits a bounded time for room.
  void send(const std::string& lines);
  void send_line(const std::string& line) { send(line + "\n"); }

 private:
  int fd_ = -1;
};

// Waits until the desktop has recorded `count` re-enablings of the tap. The
// tap handles events in order and the server switches it back on when told
// it was switched off, so after the count-th notice every event sent before
// it has been handled. Throws after a bounded wait.
void wait_for_reenables(const std::string& posted, std::size_t count);

}  // namespace kestrum::computer::testing
