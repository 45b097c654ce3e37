// Lines from a descriptor (the agent's requests, the simulated person's
// input), read through a buffer: bytes of later lines may already be in
// memory, but a line is handed out only once its line feed (or the end of
// input) has arrived.
#pragma once

#include <string>
#include <variant>

namespace kestrum::computer {

// What LineReader::next finds.
struct Line {
  std::string text;  // with its line feed when it had one
};
struct EndOfInput {};  // a descriptor that is not open counts as the end
struct ReadError {
  std::string text;  // the system's error text
};
using NextLine = std::variant<Line, EndOfInput, ReadError>;

class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // Waits for a whole line, the end of input or a failed read.
  NextLine next();

 private:
  int fd_;
  std::string buffer_;
  std::size_t scanned_ = 0;  // no line feed in buffer_[0, scanned_)
  bool ended_ = false;
};

// Removes a final line feed and then a carriage return just before it.
void strip_line_end(std::string& line);

}  // namespace kestrum::computer
