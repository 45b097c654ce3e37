#include "testing/linux/procfs.h"

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrum::testing {

std::vector<std::string> open_descriptors(pid_t pid) {
  const std::filesystem::path folder = "/proc/" + std::to_string(pid) + "/fd";
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
    // A descriptor closed while listing is simply gone.
    if (error) continue;
    out.push_back(entry.path().filename().string() + " -> " + target.string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::size_t count_entries(const std::string& folder) {
  std::size_t count = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

std::uint64_t status_kib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) throw std::runtime_error("cannot read the status of process " + std::to_string(pid));
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with(field + ":")) continue;
    std::istringstream fields(line.substr(field.size() + 1));
    std::uint64_t value = 0;
    std::string unit;
    if (!(fields >> value >> unit) || unit != "kB")
      throw std::runtime_error("an unexpected status line: " + line);
    return value;
  }
  throw std::runtime_error("no " + field + " in the status of process " + std::to_string(pid));
}

}  // namespace kestrum::testing
