#include "support/person_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <stdexcept>
#include <thread>

#include "testing/files.h"

namespace kestrum::computer::testing {

PersonInput::PersonInput(const std::string& path) {
  if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path);
  // Read-write, so opening does not wait for the server to open its end.
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error("open fifo " + path);
}

PersonInput::~PersonInput() { ::close(fd_); }

bool PersonInput::try_send(const std::string& lines) {
  if (lines.size() > PIPE_BUF) throw std::logic_error("too many lines at once");
  const ssize_t n = ::write(fd_, lines.data(), lines.size());
  if (n == static_cast<ssize_t>(lines.size())) return true;
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
  throw std::runtime_error("could not write to the FIFO");
}

void PersonInput::send(const std::string& lines) {
  for (int tries = 0; !try_send(lines); ++tries) {
    if (tries > 30000) throw std::runtime_error("the tap stopped reading");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void wait_for_reenables(const std::string& posted, std::size_t count) {
  const std::string line = "{\"tapEnabled\":true}\n";
  std::size_t found = 0;
  for (int tries = 0; tries < 3000; ++tries) {
    const std::string text = kestrum::testing::read_file(posted);
    found = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
      ++found;
    if (found >= count) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("the tap was switched back on " + std::to_string(found) +
                           " times, not " + std::to_string(count));
}

}  // namespace kestrum::computer::testing
