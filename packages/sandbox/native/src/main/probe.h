// The self-test: a real command under a real policy in a throw-away project,
// checked from outside.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace kestrum::sandbox {

inline constexpr std::string_view kProbeScript =
    "echo ok > written && ! (echo no > .git/written) 2>/dev/null && ! grep -q hidden hidden "
    "2>/dev/null";
inline constexpr std::string_view kProbeReport =
    "{\"name\":\"Seatbelt\",\"network\":true,\"policyVersion\":6,\"version\":\"0.1.0-beta.8\"}\n";
inline constexpr std::string_view kProbeFailed =
    "the sandbox did not keep a command to its project";
inline constexpr std::string_view kNoSandbox = "this computer has no sandbox";

// The folder the probe works in: TMPDIR, else the per-user temporary
// folder, else /tmp, joined with "kestrum-sandbox-probe-<pid>".
std::string probe_folder(int pid);

// The compact policy the probe runs under, keys in byte order.
std::string probe_policy(const std::string& folder);

// Prints the report on success; `tool` is the sandbox tool to look for.
Status run_probe(std::string_view tool);

}  // namespace kestrum::sandbox
