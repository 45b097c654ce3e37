// The only ways the computer program ends: with an optional error line on
// standard error and a status. Output is written unbuffered, so nothing is
// left to flush; the process ends at once, even while another thread is
// still running the run loop or a request.
#pragma once

#include <string_view>

namespace kestrum::computer {

inline constexpr std::string_view kErrorPrefix = "kestrum-computer: ";

// Writes all of `text` to `fd`, ignoring failures: nothing is left to do
// when the person's terminal or the caller has gone.
void print(int fd, std::string_view text);

[[noreturn]] void exit_with_error(std::string_view message);
[[noreturn]] void exit_process(int status);

}  // namespace kestrum::computer
