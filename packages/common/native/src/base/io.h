// Whole writes to descriptors, and standard descriptors a program can trust.
#pragma once

#include <string_view>

namespace kestrum {

// Writes every byte of `bytes`, resuming after partial writes and
// interruptions. False when the descriptor refuses; errno says why.
[[nodiscard]] bool write_all(int fd, std::string_view bytes);

// The same for a socket, without raising SIGPIPE when the peer has gone.
[[nodiscard]] bool send_all(int fd, std::string_view bytes);

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
// later output never lands on an unrelated descriptor that happens to take
// one of those numbers. False when one cannot be opened.
[[nodiscard]] bool open_missing_standard_descriptors();

}  // namespace kestrum
