#include <limits.h>
#include <unistd.h>

#include "base/system_error.h"
#include "main/self.h"

namespace kestrum::sandbox {

Result<std::string> own_executable_path() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n < 0) return fail(last_system_error_text());
  if (static_cast<std::size_t>(n) >= sizeof buffer) return fail(system_error_text(ENAMETOOLONG));
  return std::string(buffer, static_cast<std::size_t>(n));
}

// There is no per-user temporary folder to ask the system for here.
std::optional<std::string> user_temp_dir() { return std::nullopt; }

}  // namespace kestrum::sandbox
