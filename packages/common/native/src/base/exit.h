// The last words of a program and its end. Output is written unbuffered, so
// nothing is left to flush when a program ends at once.
#pragma once

#include <string_view>

namespace kestrum {

// Writes all of `text` to `fd`, ignoring failures: nothing is left to do
// when the person's terminal or the caller has gone.
void print(int fd, std::string_view text);

// One error line on standard error: `prefix` names the program (each has its
// own, such as "kestrum-computer: "), then `message` and a line feed.
void print_error(std::string_view prefix, std::string_view message);

// Ends the process at once: no exit handlers, no destructors, even while
// another thread is still running.
[[noreturn]] void exit_process(int status);

// print_error, then exit_process(status).
[[noreturn]] void exit_with_error(std::string_view prefix, std::string_view message, int status);

}  // namespace kestrum
