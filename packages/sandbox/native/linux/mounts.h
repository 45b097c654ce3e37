// Carries out a MountPlan in the calling process's own mount namespace,
// which must already be private to it (see enter_namespaces).
#pragma once

#include "base/result.h"
#include "linux/plan.h"

namespace kestrum::sandbox {

// Fails with the first mount that could not be made, naming its path; the
// namespace is then half-built and the caller must not run the command.
Status apply_mounts(const MountPlan& plan);

// A fresh, read-only /proc for the calling process's PID namespace, which
// then shows only that namespace's processes. Fails where the kernel does
// not allow one (an unprivileged user whose /proc has parts covered).
Status mount_own_proc();

}  // namespace kestrum::sandbox
