// How the computer program ends with an error: every layer that may end it
// (the entry point, the serve loop, a broken simulated scene) says so in the
// same words.
#pragma once

#include <string_view>

#include "base/exit.h"

namespace kestrum::computer {

inline constexpr std::string_view kErrorPrefix = "kestrum-computer: ";

// "kestrum-computer: " + `message` on standard error, then status 1 at once.
[[noreturn]] inline void exit_with_error(std::string_view message) {
  kestrum::exit_with_error(kErrorPrefix, message, 1);
}

}  // namespace kestrum::computer
