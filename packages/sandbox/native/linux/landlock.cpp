#include "linux/landlock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "base/system_error.h"
#include "base/unique_fd.h"
#include "linux/files.h"
#include "linux/landlock_abi.h"

namespace kestrum::sandbox {
namespace {

using namespace landlock::fs;

// Listing is left out: it is allowed everywhere, and hidden folders are
// covered before Landlock is reached. Device ioctls are allowed by the
// profile's file-ioctl rule.
constexpr std::uint64_t kHandled = kExecute | kWriteFile | kReadFile | kRemoveDir | kRemoveFile |
                                   kMakeChar | kMakeDir | kMakeReg | kMakeSock | kMakeFifo |
                                   kMakeBlock | kMakeSym | kRefer | kTruncate;
constexpr std::uint64_t kRead = kReadFile | kExecute;
constexpr std::uint64_t kDevice = kReadFile | kWriteFile | kTruncate;

std::uint64_t rights_of(Grant grant) {
  switch (grant) {
    case Grant::kRead:
      return kRead;
    case Grant::kWrite:
      return kHandled;
    case Grant::kDevice:
      return kDevice;
  }
  return 0;
}

Status add_path_rule(int ruleset, int fd, std::uint64_t rights) {
  struct stat info {};
  if (::fstat(fd, &info) != 0)
    return fail("cannot inspect a granted path: " + last_system_error_text());
  if (!S_ISDIR(info.st_mode)) rights &= kFileRights;
  landlock::PathBeneathAttr rule{rights & kHandled, fd};
  if (rule.allowed_access == 0) return {};
  if (landlock::add_rule(ruleset, landlock::kRulePathBeneath, &rule) != 0)
    return fail("cannot add a Landlock rule: " + last_system_error_text());
  return {};
}

// A descriptor the command inherits keeps working when reopened by path
// (/dev/stdout, /dev/fd/N) in the way it was opened. This grants nothing
// new: the descriptor itself already allows reading, writing and
// truncating its file. Pipes and sockets need no rule.
Status add_standard_descriptors(int ruleset) {
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fstat(fd, &info) != 0) continue;
    if (!S_ISCHR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    const int mode = flags & O_ACCMODE;
    std::uint64_t rights = 0;
    if (mode == O_RDONLY || mode == O_RDWR) rights |= kReadFile;
    if (mode == O_WRONLY || mode == O_RDWR) rights |= kWriteFile | kTruncate;
    if (auto status = add_path_rule(ruleset, fd, rights); !status) return status;
  }
  return {};
}

Status add_network_rules(int ruleset, const NetworkPlan& network) {
  for (const std::uint16_t port : network.connect_ports) {
    landlock::NetPortAttr rule{landlock::net::kConnectTcp, port};
    if (landlock::add_rule(ruleset, landlock::kRuleNetPort, &rule) != 0)
      return fail("cannot add a Landlock port rule: " + last_system_error_text());
  }
  return {};
}

Result<UniqueFd> create(std::uint64_t fs, std::uint64_t net) {
  const landlock::RulesetAttr attr{fs, net,
                                   landlock::scope::kAbstractUnixSocket | landlock::scope::kSignal};
  UniqueFd ruleset(static_cast<int>(landlock::create_ruleset(&attr, sizeof attr, 0)));
  if (!ruleset) return fail("cannot create a Landlock ruleset: " + last_system_error_text());
  return ruleset;
}

Status enforce(const UniqueFd& ruleset) {
  if (landlock::restrict_self(ruleset.get()) != 0)
    return fail("cannot enter the Landlock domain: " + last_system_error_text());
  return {};
}

}  // namespace

Result<int> landlock_abi() {
  const long abi = landlock::create_ruleset(nullptr, 0, landlock::kCreateRulesetVersion);
  if (abi < 0) return fail("Landlock is not available: " + last_system_error_text());
  if (abi < landlock::kMinimumAbi) {
    return fail("Landlock ABI " + std::to_string(abi) + " is too old; version " +
                std::to_string(landlock::kMinimumAbi) + " or later is needed");
  }
  return static_cast<int>(abi);
}

Status restrict_with_landlock(const std::vector<GrantRule>& grants, const NetworkPlan& network) {
  const std::uint64_t net =
      landlock::net::kConnectTcp | (network.restrict_bind ? landlock::net::kBindTcp : 0);
  auto ruleset = create(kHandled, net);
  if (!ruleset) return fail(ruleset.take_error());
  const SystemFileView files;
  for (const GrantRule& grant : grants) {
    // Less to grant is never less safe.
    if (files.kind(grant.path) == EntryKind::kMissing) continue;
    auto fd = open_path(grant.path);
    if (!fd) return fail(fd.take_error());
    if (auto status = add_path_rule(ruleset->get(), fd->get(), rights_of(grant.grant)); !status)
      return status;
  }
  if (auto status = add_standard_descriptors(ruleset->get()); !status) return status;
  if (auto status = add_network_rules(ruleset->get(), network); !status) return status;
  return enforce(*ruleset);
}

Status restrict_to_nothing() {
  auto ruleset = create(kHandled | kReadDir, 0);
  if (!ruleset) return fail(ruleset.take_error());
  return enforce(*ruleset);
}

}  // namespace kestrum::sandbox
