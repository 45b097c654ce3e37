#include "serve/exit.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace kestrum::computer {

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void exit_with_error(std::string_view message) {
  write_all(STDERR_FILENO, std::string(kErrorPrefix) + std::string(message) + "\n");
  std::_Exit(1);
}

void exit_process(int status) { std::_Exit(status); }

}  // namespace kestrum::computer
