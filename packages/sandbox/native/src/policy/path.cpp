#include "policy/path.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "base/system_error.h"

namespace kestrum::sandbox {
namespace {

// Takes the next component off the front of `rest`. Components are never
// empty, so an empty answer means the path has no more.
std::string_view next_component(std::string_view& rest) {
  const std::size_t start = rest.find_first_not_of('/');
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  const std::string_view component = rest.substr(0, rest.find('/'));
  rest.remove_prefix(component.size());
  return component;
}

}  // namespace

int compare_paths(std::string_view a, std::string_view b) {
  for (;;) {
    const std::string_view ca = next_component(a);
    const std::string_view cb = next_component(b);
    if (ca.empty()) return cb.empty() ? 0 : -1;
    if (cb.empty()) return 1;
    // char_traits<char> compares as unsigned char, which is byte order.
    if (const int order = ca.compare(cb); order != 0) return order < 0 ? -1 : 1;
  }
}

bool inside(std::string_view path, std::string_view folder) {
  for (;;) {
    const std::string_view cf = next_component(folder);
    if (cf.empty()) return true;
    if (next_component(path) != cf) return false;
  }
}

bool strictly_inside(std::string_view path, std::string_view folder) {
  return inside(path, folder) && !same_path(path, folder);
}

void sort_unique_paths(std::vector<std::string>& paths) {
  // Stable, so that of equal paths written differently the first stays.
  std::stable_sort(paths.begin(), paths.end(), path_less);
  paths.erase(std::unique(paths.begin(), paths.end(), same_path), paths.end());
}

Result<std::string> canonicalize(std::string_view path) {
  if (holds_nul(path)) return fail(std::string(kNulInPath));
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(std::string(path).c_str(), nullptr), &std::free);
  if (!resolved) return fail(last_system_error_text());
  return std::string(resolved.get());
}

std::optional<std::string> canonical_or_parent_join(std::string_view path) {
  // The parent's own check would not see a NUL in the last name.
  if (holds_nul(path)) return std::nullopt;
  if (auto own = canonicalize(path)) return std::move(own).value();
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view name = path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  const std::string_view parent = slash == 0 ? std::string_view("/") : path.substr(0, slash);
  auto folder = canonicalize(parent);
  if (!folder) return std::nullopt;
  std::string joined = std::move(folder).value();
  if (joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

}  // namespace kestrum::sandbox
