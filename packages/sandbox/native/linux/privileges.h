// The process-wide steps around the sandbox: entering private namespaces
// and giving up every privilege before the command runs.
#pragma once

#include "base/result.h"

namespace kestrum::sandbox {

// Private mount and IPC namespaces, a private PID namespace for the
// children to come, and a private network namespace when asked.
// Without CAP_SYS_ADMIN a user namespace comes first, mapping only the
// caller's own user and group to themselves.
Status enter_namespaces(bool network);

// Empties every capability set (bounding and ambient included), locks the
// secure bits so that running as root or a set-user-ID program brings none
// back, and sets no_new_privs. Fails when any of it does not hold after.
Status drop_privileges();

}  // namespace kestrum::sandbox
