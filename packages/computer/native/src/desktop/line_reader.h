// Lines from a descriptor (the agent's requests, the simulated person's
// input), read through a buffer: bytes of later lines may already be in
// memory, but a line is handed out only once its line feed (or the end of
// input) has arrived.
#pragma once

#include <optional>
#include <string>

#include "base/result.h"

namespace kestrum::computer {

class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line with its line feed when it had one; nothing at the end of
  // input (a descriptor that is not open counts as the end); the system
  // error text when a read fails.
  Result<std::optional<std::string>> next();

 private:
  int fd_;
  std::string buffer_;
  std::size_t scanned_ = 0;  // no line feed in buffer_[0, scanned_)
  bool ended_ = false;
};

// Removes a final line feed and then a carriage return just before it.
void strip_line_end(std::string& line);

}  // namespace kestrum::computer
