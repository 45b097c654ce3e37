#include "linux/seccomp_filter.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>

#include "base/system_error.h"

namespace kestrum::sandbox {
namespace {

constexpr int kAlwaysDenied[] = {
    // Namespaces and mounts would let the command undo the covers.
    SCMP_SYS(unshare),
    SCMP_SYS(setns),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(pivot_root),
    SCMP_SYS(chroot),
    SCMP_SYS(open_tree),
    SCMP_SYS(move_mount),
    SCMP_SYS(fsopen),
    SCMP_SYS(fsconfig),
    SCMP_SYS(fsmount),
    SCMP_SYS(fspick),
    SCMP_SYS(mount_setattr),
    // io_uring opens sockets and files without passing through this filter.
    SCMP_SYS(io_uring_setup),
    SCMP_SYS(io_uring_enter),
    SCMP_SYS(io_uring_register),
    // Kernel keyrings can hold the user's secrets; the rest is kernel
    // attack surface or administration no command needs.
    SCMP_SYS(keyctl),
    SCMP_SYS(add_key),
    SCMP_SYS(request_key),
    SCMP_SYS(bpf),
    SCMP_SYS(perf_event_open),
    SCMP_SYS(userfaultfd),
    SCMP_SYS(kexec_load),
    SCMP_SYS(kexec_file_load),
    SCMP_SYS(init_module),
    SCMP_SYS(finit_module),
    SCMP_SYS(delete_module),
    SCMP_SYS(reboot),
    SCMP_SYS(swapon),
    SCMP_SYS(swapoff),
    SCMP_SYS(acct),
    SCMP_SYS(quotactl),
    SCMP_SYS(open_by_handle_at),
    SCMP_SYS(ioperm),
    SCMP_SYS(iopl),
    SCMP_SYS(syslog),
    SCMP_SYS(vhangup),
    SCMP_SYS(fanotify_init),
};

constexpr std::uint64_t kNamespaceFlags[] = {CLONE_NEWNS,  CLONE_NEWCGROUP, CLONE_NEWUTS,
                                             CLONE_NEWIPC, CLONE_NEWUSER,   CLONE_NEWPID,
                                             CLONE_NEWNET};

// Limits, priorities and CPU placement may be changed only for the caller
// itself: {system call, argument, the value that names the caller}. The
// kernel checks only user ids, so the command could otherwise change them
// for its launcher or any other process of its user (a CPU limit kills the
// launcher; a raised core limit let it dump its environment to a file).
struct OnlyOnItself {
  int syscall;
  unsigned arg;
  std::uint64_t caller;
};
constexpr int kIoprioWhoProcess = 1;
constexpr OnlyOnItself kOnlyOnItself[] = {
    {SCMP_SYS(prlimit64), 0, 0},          {SCMP_SYS(setpriority), 0, PRIO_PROCESS},
    {SCMP_SYS(setpriority), 1, 0},        {SCMP_SYS(ioprio_set), 0, kIoprioWhoProcess},
    {SCMP_SYS(ioprio_set), 1, 0},         {SCMP_SYS(sched_setaffinity), 0, 0},
    {SCMP_SYS(sched_setscheduler), 0, 0}, {SCMP_SYS(sched_setparam), 0, 0},
    {SCMP_SYS(sched_setattr), 0, 0},
};

// Pushing characters into the terminal's input would run them in the
// shell outside once the command ends.
constexpr std::uint64_t kTerminalInjection[] = {TIOCSTI, TIOCLINUX};

// Socket arguments are compared as 64-bit values while the kernel reads
// 32-bit ints, so the denials below cover every value but the exact allowed
// ones: stray high bits only ever make a value larger and so denied.
constexpr std::uint64_t kTypeBitsDenied[][2] = {{0x1, 0x0}, {0x2, 0x2}, {0x4, 0x4}, {0x8, 0x8}};

using Filter = std::unique_ptr<void, decltype(&seccomp_release)>;

// One comparison of a system call argument, as 64-bit values.
constexpr scmp_arg_cmp arg(unsigned index, scmp_compare op, std::uint64_t a, std::uint64_t b = 0) {
  return {index, op, a, b};
}

class Rules {
 public:
  explicit Rules(scmp_filter_ctx ctx) : ctx_(ctx) {}

  void deny(int syscall, std::initializer_list<scmp_arg_cmp> args = {}, int error = EPERM) {
    if (result_ != 0) return;
    result_ = seccomp_rule_add_array(ctx_, SCMP_ACT_ERRNO(static_cast<std::uint32_t>(error)),
                                     syscall, static_cast<unsigned>(args.size()), args.begin());
  }

  int result() const { return result_; }

 private:
  scmp_filter_ctx ctx_;
  int result_ = 0;
};

void deny_ip_sockets_but_tcp(Rules& rules) {
  const int socket = SCMP_SYS(socket);
  rules.deny(socket, {arg(0, SCMP_CMP_LT, AF_INET)});
  rules.deny(socket, {arg(0, SCMP_CMP_GT, AF_INET6)});
  for (std::uint64_t family = AF_INET + 1; family < AF_INET6; ++family)
    rules.deny(socket, {arg(0, SCMP_CMP_EQ, family)});
  for (const auto& [mask, value] : kTypeBitsDenied)
    rules.deny(socket, {arg(1, SCMP_CMP_MASKED_EQ, mask, value)});
  rules.deny(socket, {arg(2, SCMP_CMP_GT, IPPROTO_TCP)});
  for (std::uint64_t protocol = 1; protocol < IPPROTO_TCP; ++protocol)
    rules.deny(socket, {arg(2, SCMP_CMP_EQ, protocol)});
}

void add_rules(Rules& rules, const NetworkPlan& network) {
  for (const int syscall : kAlwaysDenied) rules.deny(syscall);
  // Without clone3 the C library falls back to clone, whose flags are
  // visible here; clone3 keeps them in memory the filter cannot read.
  rules.deny(SCMP_SYS(clone3), {}, ENOSYS);
  for (const std::uint64_t flag : kNamespaceFlags)
    rules.deny(SCMP_SYS(clone), {arg(0, SCMP_CMP_MASKED_EQ, flag, flag)});
  for (const std::uint64_t request : kTerminalInjection)
    rules.deny(SCMP_SYS(ioctl), {arg(1, SCMP_CMP_MASKED_EQ, 0xffffffffu, request)});
  // Compared as 64-bit values: a stray high bit only ever denies more.
  for (const auto& [syscall, index, caller] : kOnlyOnItself)
    rules.deny(syscall, {arg(index, SCMP_CMP_NE, caller)});
  // A lease on a file the command may only read would hold up every writer
  // outside for the lease-break time.
  rules.deny(SCMP_SYS(fcntl), {arg(1, SCMP_CMP_MASKED_EQ, 0xffffffffu, F_SETLEASE)});
  if (network.ip_sockets)
    deny_ip_sockets_but_tcp(rules);
  else
    rules.deny(SCMP_SYS(socket));
  // A connected pair reaches nothing outside; datagram pairs could still
  // send to any named socket.
  rules.deny(SCMP_SYS(socketpair), {arg(0, SCMP_CMP_NE, AF_UNIX)});
  rules.deny(SCMP_SYS(socketpair), {arg(1, SCMP_CMP_MASKED_EQ, 0xf, SOCK_DGRAM)});
  if (!network.listen) rules.deny(SCMP_SYS(listen));
}

// What the relay does once confined: take the listener over its channel,
// accept, connect to the proxy, copy both ways on threads, and end.
constexpr int kNamespaceRelayCalls[] = {
    SCMP_SYS(recvmsg),
    SCMP_SYS(accept4),
    SCMP_SYS(connect),
    SCMP_SYS(recvfrom),
    SCMP_SYS(sendto),
    SCMP_SYS(shutdown),
    SCMP_SYS(close),
    SCMP_SYS(poll),
    SCMP_SYS(ppoll),
    SCMP_SYS(read),
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(mmap),
    SCMP_SYS(munmap),
    SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    SCMP_SYS(mremap),
    SCMP_SYS(brk),
    SCMP_SYS(futex),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(rseq),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(sched_yield),
    SCMP_SYS(nanosleep),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(gettid),
    SCMP_SYS(getpid),
    SCMP_SYS(tgkill),
    SCMP_SYS(getrandom),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
    SCMP_SYS(restart_syscall),
    // Neither reaches anything outside; the sanitizers' runtimes use a pipe
    // to test whether memory can be read, and ask a new thread's processors
    // to learn where its stack lies.
    SCMP_SYS(pipe2),
    SCMP_SYS(sched_getaffinity),
};

Status load(scmp_filter_ctx filter, int result) {
  if (result != 0)
    return fail("cannot build the system call filter: " + system_error_text(-result));
  if (const int loaded = seccomp_load(filter); loaded != 0)
    return fail("cannot load the system call filter: " + system_error_text(-loaded));
  return {};
}

}  // namespace

Status load_namespace_relay_filter() {
  const Filter filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)), &seccomp_release);
  if (!filter) return fail("cannot build the system call filter");
  int result = 0;
  for (const int syscall : kNamespaceRelayCalls) {
    if (result == 0) result = seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, syscall, 0);
  }
  // Threads only: a thread is a clone without any namespace flag; clone3
  // keeps its flags where the filter cannot read them, so the C library
  // is told it does not exist and falls back to clone.
  std::uint64_t namespaces = 0;
  for (const std::uint64_t flag : kNamespaceFlags) namespaces |= flag;
  if (result == 0) {
    result = seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                              arg(0, SCMP_CMP_MASKED_EQ, namespaces, 0));
  }
  if (result == 0) {
    result = seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
  }
  // Only TCP over IPv4, to the proxy.
  if (result == 0) {
    result = seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(socket), 1,
                              arg(0, SCMP_CMP_EQ, AF_INET));
  }
  return load(filter.get(), result);
}

Status load_seccomp_filter(const NetworkPlan& network) {
  const Filter filter(seccomp_init(SCMP_ACT_ALLOW), &seccomp_release);
  if (!filter) return fail("cannot build the system call filter");
  Rules rules(filter.get());
  add_rules(rules, network);
  return load(filter.get(), rules.result());
}

}  // namespace kestrum::sandbox
