// prepare_policy: the policy's paths resolved against the file system.
// Entries that do not exist are dropped silently (the policy is written for
// many machines); only the working folder and the exceptions to hidden
// folders must resolve, because a wrong guess there would widen access.
#include <sys/stat.h>

#include <algorithm>

#include "policy/path.h"
#include "policy/policy.h"

namespace kestrum::sandbox {
namespace {

std::vector<std::string> canonical_existing(const std::vector<std::string>& entries) {
  std::vector<std::string> paths;
  for (const std::string& entry : entries) {
    if (auto canonical = canonicalize(entry)) paths.push_back(std::move(canonical).value());
  }
  sort_unique_paths(paths);
  return paths;
}

std::vector<std::string> canonical_or_joined(const std::vector<std::string>& entries) {
  std::vector<std::string> paths;
  for (const std::string& entry : entries) {
    if (auto prepared = canonical_or_parent_join(entry)) paths.push_back(std::move(*prepared));
  }
  sort_unique_paths(paths);
  return paths;
}

bool is_folder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Result<std::string> verify_exception(const std::string& entry,
                                     const std::vector<std::string>& deny_read) {
  auto canonical = canonicalize(entry);
  if (!canonical || !is_folder(*canonical)) return fail(display_text(entry) + " is not a folder");
  const bool hidden = std::any_of(deny_read.begin(), deny_read.end(), [&](const std::string& h) {
    return strictly_inside(*canonical, h);
  });
  if (!hidden) return fail(display_text(entry) + " is not inside a hidden folder");
  return std::move(canonical).value();
}

// In path order every path inside an exception follows it directly, so
// comparing with the last kept exception finds every nested one.
void drop_nested(std::vector<std::string>& sorted) {
  std::vector<std::string> kept;
  for (std::string& path : sorted) {
    if (!kept.empty() && strictly_inside(path, kept.back())) continue;
    kept.push_back(std::move(path));
  }
  sorted = std::move(kept);
}

Result<std::vector<std::string>> prepare_exceptions(const std::vector<std::string>& entries,
                                                    const std::vector<std::string>& deny_read) {
  std::vector<std::string> verified;
  for (const std::string& entry : entries) {
    auto exception = verify_exception(entry, deny_read);
    if (!exception) return fail(exception.take_error());
    verified.push_back(std::move(exception).value());
  }
  sort_unique_paths(verified);
  drop_nested(verified);
  return verified;
}

}  // namespace

Result<PreparedPolicy> prepare_policy(const Policy& policy) {
  auto cwd = canonicalize(policy.cwd);
  if (!cwd) return fail(display_text(policy.cwd) + ": " + cwd.error());

  // Everything is copied, then the paths are replaced: a field added to the
  // policy reaches the prepared one without a line here.
  PreparedPolicy prepared{policy};
  prepared.cwd = std::move(cwd).value();
  // The exceptions are checked against the hidden folders as prepared, so
  // these two steps keep their order.
  prepared.deny_read = canonical_existing(policy.deny_read);
  auto exceptions = prepare_exceptions(policy.deny_read_except, prepared.deny_read);
  if (!exceptions) return fail(exceptions.take_error());
  prepared.deny_read_except = std::move(exceptions).value();

  prepared.write = canonical_existing(policy.write);
  prepared.write_files = canonical_or_joined(policy.write_files);
  prepared.deny_write = canonical_or_joined(policy.deny_write);
  prepared.network.sockets = canonical_or_joined(policy.network.sockets);
  return prepared;
}

}  // namespace kestrum::sandbox
