// What Linux reports about a running process under /proc: its open
// descriptors and its peak resident memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum::computer::testing {

// The descriptors open in `pid`, each as "number -> target", sorted.
std::vector<std::string> open_descriptors(pid_t pid);

// A field of /proc/<pid>/status given in kB (for example "VmHWM" or
// "VmRSS"), in KiB; throws when the field is missing.
std::uint64_t status_kib(pid_t pid, const std::string& field);

}  // namespace kestrum::computer::testing
