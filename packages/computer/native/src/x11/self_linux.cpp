// Where the server's own executable is, read the Linux way.
#include <filesystem>
#include <string_view>

#include "x11/x11_desktop.h"

namespace kestrum::computer::x11 {
namespace {

constexpr std::string_view kOpenProgramName = "kestrum-open-x11";

}  // namespace

std::optional<std::string> open_program_beside_self() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return (self.parent_path() / kOpenProgramName).string();
}

}  // namespace kestrum::computer::x11
