// Feeds arbitrary policy text through parse_policy, prepare_policy and
// build_profile, against the real file system. Whatever parses and prepares
// must give a profile whose every path is absolute and holds no NUL, and
// which this backend's profile reader reads back into exactly the prepared
// lists: a policy path that reached the system as anything but what it
// says (cut at a NUL, say) shows up here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "linux/profile_reader.h"
#include "policy/path.h"
#include "policy/policy.h"
#include "policy/profile.h"

namespace {

using kestrum::sandbox::PreparedPolicy;
using kestrum::sandbox::ProfileRules;

void require(bool holds) {
  if (!holds) std::abort();
}

bool sound_path(std::string_view path) {
  return path.starts_with('/') && !kestrum::sandbox::holds_nul(path);
}

std::vector<const std::vector<std::string>*> path_lists(const PreparedPolicy& policy) {
  return {&policy.write,     &policy.write_files,      &policy.deny_write,
          &policy.deny_read, &policy.deny_read_except, &policy.network.sockets};
}

std::vector<const std::vector<std::string>*> path_lists(const ProfileRules& rules) {
  return {&rules.write,
          &rules.write_files,
          &rules.deny_write,
          &rules.deny_read,
          &rules.exceptions,
          &rules.sockets,
          &rules.traverse,
          &rules.write_in_exceptions,
          &rules.deny_write_in_exceptions,
          &rules.deny_read_in_exceptions};
}

// The profile names paths as UTF-8 text; the reader refuses one that was
// not, which keeps such a command from starting. Only the paths the system
// itself returned can be that way.
bool all_utf8(const PreparedPolicy& policy) {
  if (!kestrum::is_valid_utf8(policy.cwd)) return false;
  for (const auto* list : path_lists(policy)) {
    for (const std::string& path : *list) {
      if (!kestrum::is_valid_utf8(path)) return false;
    }
  }
  return true;
}

void check_profile(const PreparedPolicy& policy, std::optional<std::uint16_t> port) {
  const std::string profile = kestrum::sandbox::build_profile(policy, port);
  auto rules = kestrum::sandbox::read_profile(profile);
  if (!all_utf8(policy)) return;
  require(rules.ok());
  for (const auto* list : path_lists(*rules)) {
    for (const std::string& path : *list) require(sound_path(path));
  }
  require(rules->write == policy.write && rules->write_files == policy.write_files);
  require(rules->deny_write == policy.deny_write && rules->deny_read == policy.deny_read);
  require(rules->exceptions == policy.deny_read_except);
  require(rules->sockets == policy.network.sockets && rules->port == port);
  require(rules->loopback == policy.network.loopback && rules->keychain == policy.keychain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto policy = kestrum::sandbox::parse_policy(text);
  if (!policy) return 0;
  auto prepared = kestrum::sandbox::prepare_policy(*policy);
  if (!prepared) return 0;
  require(sound_path(prepared->cwd));
  for (const auto* list : path_lists(*prepared)) {
    for (const std::string& path : *list) require(sound_path(path));
  }
  check_profile(*prepared, std::nullopt);
  check_profile(*prepared, 3128);
  return 0;
}
