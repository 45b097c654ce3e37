#include "linux/privileges.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "base/system_error.h"
#include "base/unique_fd.h"

namespace kestrum::sandbox {
namespace {

constexpr unsigned long kLockedBits =
    SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP | SECBIT_NO_SETUID_FIXUP_LOCKED |
    SECBIT_KEEP_CAPS_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE | SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;

struct Capabilities {
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
};

bool read_capabilities(Capabilities& caps) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capget, &header, caps.data) == 0;
}

bool has_capability(int capability) {
  Capabilities caps;
  if (!read_capabilities(caps)) return false;
  return caps.data[capability / 32].effective & (1u << (capability % 32));
}

Status write_file(const char* path, const std::string& text) {
  UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    return fail(std::string("cannot write ") + path + ": " + last_system_error_text());
  }
  return {};
}

Status map_own_ids(uid_t uid, gid_t gid) {
  if (auto status = write_file("/proc/self/setgroups", "deny"); !status) return status;
  if (auto status =
          write_file("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
      !status) {
    return status;
  }
  return write_file("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

int last_capability() {
  int last = CAP_LAST_CAP;
  while (::prctl(PR_CAPBSET_READ, last + 1, 0, 0, 0) >= 0) ++last;
  return last;
}

}  // namespace

Status enter_namespaces(bool network) {
  // A private IPC namespace keeps System V and POSIX message queue objects
  // of the processes outside out of reach, while the command can still
  // use its own.
  const int flags = CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWPID | (network ? CLONE_NEWNET : 0);
  if (has_capability(CAP_SYS_ADMIN)) {
    if (::unshare(flags) != 0)
      return fail("cannot make private namespaces: " + last_system_error_text());
    return {};
  }
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | flags) != 0)
    return fail("cannot make private namespaces: " + last_system_error_text());
  return map_own_ids(uid, gid);
}

Status drop_privileges() {
  if (::prctl(PR_SET_SECUREBITS, kLockedBits, 0, 0, 0) != 0)
    return fail("cannot lock the secure bits: " + last_system_error_text());
  const int last = last_capability();
  for (int capability = 0; capability <= last; ++capability) {
    if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
      return fail("cannot drop a capability: " + last_system_error_text());
  }
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0)
    return fail("cannot clear ambient capabilities: " + last_system_error_text());
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  Capabilities none;
  if (::syscall(SYS_capset, &header, none.data) != 0)
    return fail("cannot drop capabilities: " + last_system_error_text());
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return fail("cannot set no_new_privs: " + last_system_error_text());
  Capabilities left;
  if (!read_capabilities(left))
    return fail("cannot read capabilities: " + last_system_error_text());
  for (const auto& word : left.data) {
    if (word.effective || word.permitted || word.inheritable)
      return fail("capabilities remained after dropping them");
  }
  if (::prctl(PR_CAPBSET_READ, 0, 0, 0, 0) != 0) return fail("the bounding set is not empty");
  return {};
}

}  // namespace kestrum::sandbox
