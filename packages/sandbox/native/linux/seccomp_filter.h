// The system call filter: what Landlock and the namespaces cannot express.
// Socket families and types (TCP only, and only when the plan has an own
// network namespace; no UDP, raw, packet, netlink or vsock sockets, no
// unbound Unix sockets), listening, new namespaces, mounts, io_uring (whose
// operations bypass this filter), terminal input injection, and the kernel
// interfaces a sandboxed command has no use for.
#pragma once

#include "base/result.h"
#include "linux/plan.h"

namespace kestrum::sandbox {

// Loads the filter into the calling process (no_new_privs must be set).
Status load_seccomp_filter(const NetworkPlan& network);

// The relay's own filter: only the calls that accepting, connecting and
// copying with threads take; anything else fails with EPERM.
Status load_namespace_relay_filter();

}  // namespace kestrum::sandbox
