// A close-on-exec pipe whose ends never block, for tests that read back what
// the server wrote without waiting for more.
#pragma once

#include <fcntl.h>

#include <array>
#include <stdexcept>

#include "base/descriptors.h"

namespace kestrum::computer::testing {

// {read end, write end}, owned by the caller. Throws when no pipe can be made.
inline std::array<int, 2> nonblocking_pipe() {
  auto ends = cloexec_pipe();
  if (!ends) throw std::runtime_error("pipe");
  for (const UniqueFd* end : {&ends->read, &ends->write}) {
    const int flags = ::fcntl(end->get(), F_GETFL);
    if (flags < 0 || ::fcntl(end->get(), F_SETFL, flags | O_NONBLOCK) != 0)
      throw std::runtime_error("fcntl");
  }
  return {ends->read.release(), ends->write.release()};
}

}  // namespace kestrum::computer::testing
