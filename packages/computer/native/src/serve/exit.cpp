#include "serve/exit.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/io.h"

namespace kestrum::computer {

void print(int fd, std::string_view text) { (void)kestrum::write_all(fd, text); }

void exit_with_error(std::string_view message) {
  print(STDERR_FILENO, std::string(kErrorPrefix) + std::string(message) + "\n");
  std::_Exit(1);
}

void exit_process(int status) { std::_Exit(status); }

}  // namespace kestrum::computer
