#include "serve/message.h"

#include <sys/uio.h>

#include <cerrno>

#include "base/system_error.h"

namespace kestrum::computer {
namespace {

constexpr std::size_t kInitialCapacity = 128;

// Writes every byte of every piece, resuming after partial writes.
Status write_pieces(int fd, std::span<iovec> pieces) {
  while (!pieces.empty()) {
    const ssize_t written = ::writev(fd, pieces.data(), static_cast<int>(pieces.size()));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return fail(last_system_error_text());
    auto left = static_cast<std::size_t>(written);
    while (!pieces.empty() && left >= pieces.front().iov_len) {
      left -= pieces.front().iov_len;
      pieces = pieces.subspan(1);
    }
    if (!pieces.empty()) {
      pieces.front().iov_base = static_cast<char*>(pieces.front().iov_base) + left;
      pieces.front().iov_len -= left;
    }
  }
  return {};
}

}  // namespace

std::string frame_length(std::uint64_t length) {
  std::string bytes(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes;
}

Status write_message(MessageOutput& output, const json::Object& message,
                     std::span<const std::uint8_t> payload) {
  const std::lock_guard<std::mutex> hold(output.lock_);
  std::string head;
  head.reserve(kInitialCapacity);
  head.append(4, '\0');
  json::write_json(head, message);
  const std::uint64_t json_length = head.size() - 4;
  // Both lengths are checked before anything is written, so a payload that
  // is too large never leaves a partial frame behind.
  if (json_length >= kFrameLimit || payload.size() >= kFrameLimit)
    return fail(std::string(kMessageTooLarge));
  head.replace(0, 4, frame_length(json_length));
  head += frame_length(payload.size());
  iovec pieces[2] = {{head.data(), head.size()},
                     {const_cast<std::uint8_t*>(payload.data()), payload.size()}};
  return write_pieces(output.fd_, std::span<iovec>(pieces, payload.empty() ? 1 : 2));
}

}  // namespace kestrum::computer
