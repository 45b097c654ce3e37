#include <mach-o/dyld.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "base/system_error.h"
#include "main/self.h"

namespace kestrum::sandbox {

Result<std::string> own_executable_path() {
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) return fail(system_error_text(ENAMETOOLONG));
  return std::string(buffer.data());
}

std::optional<std::string> user_temp_dir() {
  const std::size_t size = confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::vector<char> buffer(size, '\0');
  if (confstr(_CS_DARWIN_USER_TEMP_DIR, buffer.data(), buffer.size()) == 0) return std::nullopt;
  return std::string(buffer.data());
}

}  // namespace kestrum::sandbox
