#include "base/exit.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/io.h"

namespace kestrum {

void print(int fd, std::string_view text) { (void)write_all(fd, text); }

void print_error(std::string_view prefix, std::string_view message) {
  std::string line;
  line.reserve(prefix.size() + message.size() + 1);
  line.append(prefix).append(message).push_back('\n');
  print(STDERR_FILENO, line);
}

void exit_process(int status) { std::_Exit(status); }

void exit_with_error(std::string_view prefix, std::string_view message, int status) {
  print_error(prefix, message);
  exit_process(status);
}

}  // namespace kestrum
