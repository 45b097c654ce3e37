// Running the command in a child while the launcher serves it (the proxy):
// the launcher passes on the signals it is sent and ends the way the
// command did.
#pragma once

#include <functional>

#include "base/result.h"
#include "launch/exec.h"

namespace kestrum::sandbox {

// Forks a child that execs `exec`; in the launcher, starts passing SIGTERM,
// SIGINT and SIGHUP on to it, then calls `serve` (which must return once
// its own threads run). Then waits for the child and ends the launcher with
// its exit status, or by the signal that ended it.
//
// Returns only with an error: "could not fork: <reason>"; what `serve`
// failed with, the child killed first, since it could never be served; or
// the child's "could not start <tool>: <reason>" once it has ended.
Status supervise(const PreparedExec& exec, const std::function<Status()>& serve);

}  // namespace kestrum::sandbox
