// The Landlock domain the command runs in: what it may read, execute and
// write, which TCP ports it may reach, and that it may neither signal nor
// reach an abstract socket outside its own domain.
#pragma once

#include <vector>

#include "base/result.h"
#include "linux/plan.h"

namespace kestrum::sandbox {

// The kernel's Landlock ABI version; fails when Landlock is missing,
// disabled, or older than the backend needs.
Result<int> landlock_abi();

// Restricts the calling process (no_new_privs must be set). Besides the
// grants, the targets of descriptors 0-2 stay usable by path (/dev/stdout),
// as far as they were opened.
Status restrict_with_landlock(const std::vector<GrantRule>& grants, const NetworkPlan& network);

// No file access of any kind, no signals out; for the relay process.
Status restrict_to_nothing();

}  // namespace kestrum::sandbox
