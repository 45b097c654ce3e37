#include "base/system_error.h"

#include <cerrno>
#include <cstring>

namespace kestrum {

std::string system_error_text(int error_number) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the
  // buffer; the XSI one fills it. Accept both.
  auto pick = [&](auto returned) -> const char* {
    if constexpr (std::is_same_v<decltype(returned), char*>) {
      return returned;
    } else {
      return returned == 0 ? buffer : "Unknown error";
    }
  };
  const char* description = pick(strerror_r(error_number, buffer, sizeof buffer));
  return std::string(description) + " (os error " + std::to_string(error_number) + ")";
}

std::string last_system_error_text() { return system_error_text(errno); }

}  // namespace kestrum
