// Framed messages on the server's output: a 4-byte little-endian length,
// the JSON part, a 4-byte little-endian length, the payload. The output
// lock keeps each frame whole, so the tap's takeover event can come between
// two answers but never inside one.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "base/result.h"
#include "json/writer.h"

namespace kestrum::computer {

inline constexpr std::string_view kMessageTooLarge = "a message is too large";

// Both parts of a frame must be shorter than this.
inline constexpr std::uint64_t kFrameLimit = std::uint64_t{1} << 32;

// The writer of the server's standard output and its lock. Does not own the
// descriptor.
class MessageOutput {
 public:
  explicit MessageOutput(int fd) : fd_(fd) {}
  MessageOutput(const MessageOutput&) = delete;
  MessageOutput& operator=(const MessageOutput&) = delete;

 private:
  friend Status write_message(MessageOutput&, const json::Object&, std::span<const std::uint8_t>);
  std::mutex lock_;
  int fd_;
};

// Writes one frame under the output lock. Fails with kMessageTooLarge
// before writing anything when either part is too long, or with the system
// error text of a failed write (the frame may then be cut short).
Status write_message(MessageOutput& output, const json::Object& message,
                     std::span<const std::uint8_t> payload = {});

// The 4-byte little-endian form of a length below kFrameLimit.
std::string frame_length(std::uint64_t length);

}  // namespace kestrum::computer
