// The serve loop: one request line at a time, one answer frame each, in
// input order. It decides when the process ends.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "desktop/line_reader.h"
#include "serve/state.h"

namespace kestrum::computer {

inline constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view kOutOfMemory = "the server ran out of memory";

// Why the loop ended other than at the end of input: the error text of a
// read, decoding or write error, or kOutOfMemory when a line or an answer
// does not fit in memory. Memory running out inside an operation only makes
// that operation fail with kOutOfMemory.
struct LoopError {
  std::string message;
};
using LoopEnd = std::variant<EndOfInput, LoopError>;

// Serves requests read from `input_fd` until the loop ends.
LoopEnd run_serve_loop(ServerState& state, int input_fd);

// The answer to one line (without its line feed) that is not blank.
Status answer_line(ServerState& state, std::string_view line);

// Serves standard input, then ends the process: with status 0 at the end of
// input, otherwise with the error line and status 1. Never returns.
[[noreturn]] void serve_loop(ServerState& state);

}  // namespace kestrum::computer
