// The Landlock system call interface, declared here from the kernel's
// documentation because the C library headers of this distribution predate
// the access rights and scopes the backend needs (TCP ports, truncation,
// signal and abstract-socket scoping).
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace kestrum::sandbox::landlock {

struct RulesetAttr {
  std::uint64_t handled_access_fs;
  std::uint64_t handled_access_net;
  std::uint64_t scoped;
};

struct PathBeneathAttr {
  std::uint64_t allowed_access;
  std::int32_t parent_fd;
} __attribute__((packed));

struct NetPortAttr {
  std::uint64_t allowed_access;
  std::uint64_t port;
};

inline constexpr unsigned kCreateRulesetVersion = 1u << 0;
inline constexpr int kRulePathBeneath = 1;
inline constexpr int kRuleNetPort = 2;

namespace fs {
inline constexpr std::uint64_t kExecute = 1ull << 0;
inline constexpr std::uint64_t kWriteFile = 1ull << 1;
inline constexpr std::uint64_t kReadFile = 1ull << 2;
inline constexpr std::uint64_t kReadDir = 1ull << 3;
inline constexpr std::uint64_t kRemoveDir = 1ull << 4;
inline constexpr std::uint64_t kRemoveFile = 1ull << 5;
inline constexpr std::uint64_t kMakeChar = 1ull << 6;
inline constexpr std::uint64_t kMakeDir = 1ull << 7;
inline constexpr std::uint64_t kMakeReg = 1ull << 8;
inline constexpr std::uint64_t kMakeSock = 1ull << 9;
inline constexpr std::uint64_t kMakeFifo = 1ull << 10;
inline constexpr std::uint64_t kMakeBlock = 1ull << 11;
inline constexpr std::uint64_t kMakeSym = 1ull << 12;
inline constexpr std::uint64_t kRefer = 1ull << 13;
inline constexpr std::uint64_t kTruncate = 1ull << 14;
inline constexpr std::uint64_t kIoctlDev = 1ull << 15;
// The rights that make sense on a file rather than a folder.
inline constexpr std::uint64_t kFileRights =
    kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDev;
}  // namespace fs

namespace net {
inline constexpr std::uint64_t kBindTcp = 1ull << 0;
inline constexpr std::uint64_t kConnectTcp = 1ull << 1;
}  // namespace net

namespace scope {
inline constexpr std::uint64_t kAbstractUnixSocket = 1ull << 0;
inline constexpr std::uint64_t kSignal = 1ull << 1;
}  // namespace scope

// Scopes arrived with ABI 6; nothing older can keep signals inside.
inline constexpr int kMinimumAbi = 6;

inline long create_ruleset(const RulesetAttr* attr, std::size_t size, unsigned flags) {
  return ::syscall(__NR_landlock_create_ruleset, attr, size, flags);
}
inline long add_rule(int ruleset_fd, int rule_type, const void* rule_attr) {
  return ::syscall(__NR_landlock_add_rule, ruleset_fd, rule_type, rule_attr, 0u);
}
inline long restrict_self(int ruleset_fd) {
  return ::syscall(__NR_landlock_restrict_self, ruleset_fd, 0u);
}

}  // namespace kestrum::sandbox::landlock
