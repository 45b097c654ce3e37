// What Linux reports under /proc about the test's own programs and the
// processes it started.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum::testing {

// The descriptors open in `pid`, each as "number -> target", sorted.
std::vector<std::string> open_descriptors(pid_t pid);

// How many entries a /proc folder such as "/proc/<pid>/fd" or
// "/proc/<pid>/task" holds; 0 when it cannot be read.
std::size_t count_entries(const std::string& folder);

// A field of /proc/<pid>/status given in kB (for example "VmHWM" or
// "VmRSS"), in KiB; throws std::runtime_error when the field is missing.
std::uint64_t status_kib(pid_t pid, const std::string& field);

}  // namespace kestrum::testing
