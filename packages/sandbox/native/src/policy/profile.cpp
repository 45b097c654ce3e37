#include "policy/profile.h"

#include <algorithm>
#include <array>
#include <vector>

#include "policy/path.h"
#include "policy/profile_grammar.h"

namespace kestrum::sandbox {
namespace {

using namespace profile_grammar;

std::string wrap(std::string_view head, std::string_view quoted) {
  std::string item(head);
  item += quoted;
  item += ')';
  return item;
}

// Paths reach the profile as text: Seatbelt reads the profile as UTF-8, so
// bytes that are not are replaced rather than passed through.
std::string item(Item kind, std::string_view path) {
  std::string text = display_text(path);
  if (kind == Item::kRegex) text = "^" + regex_escape(text);
  return wrap(item_opener(kind), sbpl_quote(text));
}

template <class Paths>
std::string rule(std::string_view head, Item kind, const Paths& paths) {
  std::string line(head);
  for (const auto& path : paths) {
    line += ' ';
    line += item(kind, path);
  }
  line += ')';
  return line;
}

std::string_view parent_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == 0 || slash == std::string_view::npos) return "/";
  return path.substr(0, slash);
}

bool inside_any(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::string& folder) { return inside(path, folder); });
}

// The entries of `paths`, in their order, that lie inside some folder.
std::vector<std::string> inside_some(const std::vector<std::string>& paths,
                                     const std::vector<std::string>& folders) {
  std::vector<std::string> found;
  std::copy_if(paths.begin(), paths.end(), std::back_inserter(found),
               [&](const std::string& path) { return inside_any(path, folders); });
  return found;
}

// Seatbelt checks every folder on the way down to an exception, so the
// hidden ones among them must at least show their metadata.
std::vector<std::string> ancestors_to_traverse(const PreparedPolicy& policy) {
  std::vector<std::string> ancestors;
  for (const std::string& exception : policy.deny_read_except) {
    for (std::string_view path = exception; path != "/";) {
      path = parent_of(path);
      if (inside_any(path, policy.deny_read)) ancestors.emplace_back(path);
    }
  }
  sort_unique_paths(ancestors);
  return ancestors;
}

std::vector<std::string> writable_in_exceptions(const PreparedPolicy& policy) {
  std::vector<std::string> writable = inside_some(policy.write, policy.deny_read_except);
  for (std::string& exception : inside_some(policy.deny_read_except, policy.write)) {
    writable.push_back(std::move(exception));
  }
  if (writable.size() >= 2) sort_unique_paths(writable);
  return writable;
}

void add_exception_lines(std::vector<std::string>& lines, const PreparedPolicy& policy) {
  const std::vector<std::string>& exceptions = policy.deny_read_except;
  if (exceptions.empty()) return;
  lines.push_back(rule(kAllowRead, Item::kSubpath, exceptions));
  const struct {
    std::string_view head;
    Item kind;
    std::vector<std::string> paths;
  } rows[] = {
      {kAllowMetadata, Item::kLiteral, ancestors_to_traverse(policy)},
      {kAllowWrite, Item::kSubpath, writable_in_exceptions(policy)},
      {kDenyWrite, Item::kSubpath, inside_some(policy.deny_write, exceptions)},
      {kDenyReadAndWrite, Item::kSubpath, inside_some(policy.deny_read, exceptions)},
  };
  for (const auto& row : rows) {
    if (!row.paths.empty()) lines.push_back(rule(row.head, row.kind, row.paths));
  }
}

void add_network_lines(std::vector<std::string>& lines, const PreparedPolicy& policy,
                       std::optional<std::uint16_t> port) {
  if (port) {
    lines.push_back(std::string(kPortHead) + std::to_string(*port) + std::string(kPortTail));
  }
  if (policy.network.loopback) lines.emplace_back(kLoopbackLine);
  for (const std::string& socket : policy.network.sockets) {
    lines.push_back(std::string(kSocketHead) + sbpl_quote(display_text(socket)) +
                    std::string(kSocketTail));
  }
}

std::string mach_line(bool keychain) {
  std::vector<std::string_view> names(kMachServices.begin(), kMachServices.end());
  if (keychain)
    names.insert(names.end(), kKeychainMachServices.begin(), kKeychainMachServices.end());
  return rule(kAllowMachLookup, Item::kGlobalName, names);
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

}  // namespace

std::string sbpl_quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string regex_escape(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (kRegexCharacters.find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string build_profile(const PreparedPolicy& policy, std::optional<std::uint16_t> port) {
  std::vector<std::string> lines(kOpeningLines.begin(), kOpeningLines.end());
  if (!policy.write.empty()) lines.push_back(rule(kAllowWrite, Item::kSubpath, policy.write));
  if (!policy.write_files.empty()) {
    lines.push_back(rule(kAllowWrite, Item::kRegex, policy.write_files));
  }
  lines.emplace_back(kDeviceWriteLine);
  if (!policy.deny_write.empty()) {
    lines.push_back(rule(kDenyWrite, Item::kSubpath, policy.deny_write));
  }
  lines.insert(lines.end(), kSystemLines.begin(), kSystemLines.end());
  add_network_lines(lines, policy, port);
  lines.push_back(mach_line(policy.keychain));
  if (!policy.deny_read.empty()) {
    lines.push_back(rule(kDenyReadAndWrite, Item::kSubpath, policy.deny_read));
  }
  add_exception_lines(lines, policy);
  return join_lines(lines);
}

}  // namespace kestrum::sandbox
