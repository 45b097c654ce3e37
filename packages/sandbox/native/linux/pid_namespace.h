// The command runs in a PID namespace of its own, so that nothing it starts
// outlives it: a process that left its session, or that kept reading the
// terminal, ends with it.
//
// Three processes: this one stays outside and supervises (it keeps the
// launcher's process ID, so signals and the exit status travel as before),
// the first child is the namespace's init, and the command is init's child.
// When the command ends, init reports its status and ends, and the kernel
// ends everything left in the namespace. When the supervisor is gone, init
// and so the whole namespace end too.
#pragma once

#include "base/result.h"

namespace kestrum::sandbox {

// Must be called in a process that has unshared its PID namespace and still
// holds its privileges. Returns (success) only in the process that becomes
// the command, which still has to drop its privileges and confine itself;
// the supervisor and init never return. Fails, in this process, when no
// child could be started.
Status run_in_own_pid_namespace();

}  // namespace kestrum::sandbox
