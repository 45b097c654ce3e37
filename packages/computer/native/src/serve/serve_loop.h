// The serve loop: one request line at a time, one answer frame each, in
// input order. It decides when the process ends.
#pragma once

#include <string>
#include <string_view>

#include "serve/state.h"

namespace kestrum::computer {

inline constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view kOutOfMemory = "the server ran out of memory";

// How the loop ended: status 0 at the end of input; 1 with the error text
// after a read, decoding or write error, or kOutOfMemory when a line or an
// answer does not fit in memory. Memory running out inside an operation
// only makes that operation fail with kOutOfMemory.
struct LoopEnd {
  int status = 0;
  std::string message;
};

// Serves requests read from `input_fd` until the loop ends.
LoopEnd run_serve_loop(ServerState& state, int input_fd);

// The answer to one line (without its line feed) that is not blank.
Status answer_line(ServerState& state, std::string_view line);

// Serves standard input, then ends the process with the error line (if
// any) and the loop's status. Never returns.
[[noreturn]] void serve_loop(ServerState& state);

}  // namespace kestrum::computer
