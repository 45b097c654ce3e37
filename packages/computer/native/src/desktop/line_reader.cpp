#include "desktop/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/system_error.h"

namespace kestrum::computer {
namespace {

constexpr std::size_t kReadSize = 65536;

}  // namespace

NextLine LineReader::next() {
  for (;;) {
    const std::size_t feed = buffer_.find('\n', scanned_);
    if (feed != std::string::npos) {
      std::string line = buffer_.substr(0, feed + 1);
      buffer_.erase(0, feed + 1);
      scanned_ = 0;
      return Line{std::move(line)};
    }
    scanned_ = buffer_.size();
    if (ended_) {
      if (buffer_.empty()) return EndOfInput{};
      scanned_ = 0;
      return Line{std::exchange(buffer_, {})};
    }
    const std::size_t had = buffer_.size();
    buffer_.resize(had + kReadSize);
    const ssize_t got = ::read(fd_, buffer_.data() + had, kReadSize);
    const int error = errno;
    buffer_.resize(had + static_cast<std::size_t>(got > 0 ? got : 0));
    if (got < 0 && error == EINTR) continue;
    if (got < 0 && error != EBADF) return ReadError{system_error_text(error)};
    if (got <= 0) ended_ = true;
  }
}

void strip_line_end(std::string& line) {
  if (line.empty() || line.back() != '\n') return;
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace kestrum::computer
